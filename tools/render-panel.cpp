// Renders the panel with a realistic sample, history and process list into PNGs, in both
// appearances, on both tabs, at 1x and 2x, for looking at it during development:
//   tide-render-panel [output directory, default /tmp/panel]
// The panel is drawn over its background grey, as the popover and the snapshots show it. Some
// parts are also written enlarged (nearest neighbour), and a process row's context menu is
// rendered on its own.
#include "format/TLColor.h"
#include "panel/TLPanelController.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLProcRow.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>

#include <cmath>
#include <cstdio>

namespace {

constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;

TLSystemStats sample(int32_t level) {
    TLSystemStats s;
    s.total = 16 * GiB;
    s.app = 6 * GiB + 310 * MiB;
    s.wired = 2 * GiB + 140 * MiB;
    s.compressed = 412 * MiB;
    s.cached = 4 * GiB + 700 * MiB;
    s.used = s.app + s.wired + s.compressed;
    s.swapUsed = 1 * GiB + 230 * MiB;
    s.swapTotal = 4 * GiB;
    s.pressureLevel = TLPressureLevel{level};
    s.pressurePercent = level == 4 ? 71 : level == 2 ? 46 : 17.6;
    s.usagePercent = 100.0 * static_cast<double>(s.used) / static_cast<double>(s.total);
    s.cpuPercent = 12.34;
    return s;
}

std::vector<double> history() {
    std::vector<double> values;
    for (int i = 0; i < 90; ++i)
        values.push_back(0.50 + 0.06 * std::sin(i / 8.0) + 0.02 * std::sin(i * 1.3) +
                         (i > 72 ? (i - 72) * 0.004 : 0));
    return values;
}

std::vector<TLProc> processes() {
    struct P {
        const char* name;
        double mib;
        double cpu;
        double wakeups;
        bool approximate;
    };
    const P list[] = {
        {"firefox-esr", 1310, 6.2, 140, false},
        {"Web Content", 612.4, 3.1, 60, false},
        {"gnome-shell", 388, 2.4, 210, false},
        {"code", 702.8, 1.2, 20, false},
        {"微信", 455.3, 0.8, 35, false},
        {"org.gnome.Nautilus.SearchProvider-with-a-rather-long-name", 121.7, 0.1, 2, false},
        {"Xwayland", 96.5, 1.9, 40, false},
        {"systemd-journald", 164.2, 0.3, 12, true},
        {"网易云音乐 Helper (Renderer)", 288.0, 4.4, 90, false},
        {"pipewire", 18.4, 0.9, 160, false},
        {"tide", 42.0, 0.4, 2, false},
        {"evolution-data-server", 51.5, 0.0, 1, false},
        {"tracker-miner-fs-3", 36.9, 0.2, 6, false},
        {"kworker", 0.6, 0.0, 0, true},
    };
    std::vector<TLProc> procs;
    int32_t pid = 1200;
    for (const P& p : list) {
        TLProc proc;
        proc.pid = pid;
        pid += 37;
        proc.name = p.name;
        proc.memory = static_cast<uint64_t>(p.mib * static_cast<double>(MiB));
        proc.cpu = p.cpu;
        proc.energy = p.cpu + 0.35 * p.wakeups / 10.0;
        proc.approximate = p.approximate;
        proc.startTime = 1000 + static_cast<uint64_t>(pid);
        procs.push_back(proc);
    }
    return procs;
}

bool save(const QImage& image, const QString& path) {
    const bool ok = image.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), image.width(),
                image.height());
    return ok;
}

QImage renderView(QWidget* view, qreal dpr, TLAppearance appearance) {
    QImage image(view->size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(TLPanelBackgroundColor().resolve(appearance));
    QPainter painter(&image);
    view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QImage zoomed(const QImage& image, const QRect& pixels, int factor) {
    QImage part = image.copy(pixels);
    part.setDevicePixelRatio(1);
    return part.scaled(part.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

struct Variant {
    const char* name;
    TLAppearance appearance;
    TLPanelTab tab;
    int64_t rows;
    int32_t level;
    bool swap;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/panel");
    QDir().mkpath(dir);

    TLPanelController panel;
    QWidget* view = panel.view();
    view->show();
    QApplication::processEvents();
    const std::vector<TLProc> procs = processes();
    const std::vector<double> values = history();

    const Variant variants[] = {
        {"memory-light", TLAppearance::Light, TLPanelTab::Memory, 8, 1, true},
        {"memory-dark", TLAppearance::Dark, TLPanelTab::Memory, 8, 1, true},
        {"energy-light", TLAppearance::Light, TLPanelTab::Energy, 8, 1, true},
        {"energy-dark", TLAppearance::Dark, TLPanelTab::Energy, 8, 1, true},
        {"warning-12-light", TLAppearance::Light, TLPanelTab::Memory, 12, 2, true},
        {"critical-5-dark", TLAppearance::Dark, TLPanelTab::Energy, 5, 4, false},
    };
    bool ok = true;
    for (const Variant& v : variants) {
        TLSystemStats stats = sample(v.level);
        if (!v.swap) stats.swapTotal = 0;
        panel.setTab(v.tab);
        panel.setRowCount(v.rows);
        panel.renderSystem(stats, values);
        panel.renderProcesses(&procs);
        TLSetAppearance(view, v.appearance);
        QApplication::processEvents();
        for (qreal dpr : {1.0, 2.0}) {
            const QImage image = renderView(view, dpr, v.appearance);
            ok &= save(image, QStringLiteral("%1/panel-%2@%3x.png").arg(dir).arg(v.name).arg(dpr));
            if (dpr == 1.0 && v.rows == 8 && v.tab == TLPanelTab::Memory) {
                const QString base = QStringLiteral("%1/zoom-%2-").arg(dir).arg(v.name);
                ok &= save(zoomed(image, QRect(0, 0, 322, 150), 3), base + "top.png");
                ok &= save(zoomed(image, QRect(0, 150, 322, 150), 3), base + "middle.png");
                ok &= save(zoomed(image, QRect(0, 300, 322, 130), 3), base + "tabs.png");
                ok &= save(zoomed(image, QRect(0, image.height() - 130, 322, 130), 3),
                           base + "bottom.png");
            }
        }
    }

    // The column's geometry, for checking the spacings.
    panel.setRowCount(8);
    int previousBottom = 0;
    for (QWidget* item : panel.columnItems()) {
        const QRect r(item->mapTo(view, QPoint(0, 0)), item->size());
        std::printf("item y %3d h %3d (gap %2d) x %d w %d %s\n", r.y(), r.height(),
                    r.y() - previousBottom, r.x(), r.width(), item->metaObject()->className());
        previousBottom = r.bottom() + 1;
    }
    std::printf("view %dx%d\n", view->width(), view->height());

    // The context menu of the top row.
    panel.setTab(TLPanelTab::Memory);
    panel.setRowCount(8);
    panel.renderProcesses(&procs);
    if (QMenu* menu = panel.rows().front()->menu()) {
        menu->ensurePolished();
        menu->adjustSize();
        QImage image(menu->size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::white);
        QPainter painter(&image);
        menu->render(&painter);
        painter.end();
        ok &= save(image, dir + "/menu@2x.png");
    }
    return ok ? 0 : 1;
}
