// Renders the README's pictures from a fixed sample, the same on every run:
//   tide-render-panel SAMPLE.json OUTPUT_DIRECTORY
// The sample holds the system figures and the processes with the fields `tide-sample --processes`
// prints ("used" and "usagePercent" are worked out from the parts, as a live sample does), and a
// "history" of up to 90 usage fractions, oldest first. Written into the directory:
//   panel-light.png, panel-dark.png, panel-energy.png   the panel as snapshot mode writes it, with
//                                                       its widgets, at one pixel per point over
//                                                       the popover's grey
//   tray-icon@1x.png, tray-icon@2x.png                  the tray's square for that sample, in a
//                                                       dark bar and in a light one
// A sample that cannot be read is reported with the reason, and nothing is written.
#include "app/TLSnapshotMode.h"
#include "app/TLStatusPresentation.h"
#include "app/TLTrayIcon.h"
#include "format/TLColor.h"
#include "panel/TLPanelController.h"
#include "platform/TLPlatformTexts.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLFonts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

struct Sample {
    TLSystemStats stats;
    std::vector<double> history;
    std::vector<TLProc> processes;
};

// Reads the sample's values; the first value that does not do is kept as the error, and the
// values read after it are not used.
struct Reader {
    QString error;

    void fail(const QString& why) {
        if (error.isEmpty()) error = why;
    }
    // A whole number of at least 0 that a double holds exactly.
    uint64_t count(const QJsonObject& o, const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        const double d = v.toDouble(-1);
        if (v.isDouble() && d >= 0 && d <= 9007199254740992.0 && d == std::floor(d))
            return static_cast<uint64_t>(d);
        fail(QStringLiteral("\"%1\" is not a whole number of at least 0").arg(key));
        return 0;
    }
    double number(const QJsonObject& o, const char* key, double low, double high) {
        const QJsonValue v = o.value(QLatin1String(key));
        const double d = v.toDouble(std::nan(""));
        if (v.isDouble() && d >= low && d <= high) return d;
        fail(QStringLiteral("\"%1\" is not a number from %2 to %3")
                 .arg(key)
                 .arg(low, 0, 'f', 0)
                 .arg(high, 0, 'f', 0));
        return low;
    }

    TLSystemStats systemFigures(const QJsonObject& o);
    std::vector<double> history(const QJsonArray& values);
    std::vector<TLProc> processes(const QJsonArray& list);
};

TLSystemStats Reader::systemFigures(const QJsonObject& o) {
    TLSystemStats s;
    s.total = count(o, "total");
    s.app = count(o, "app");
    s.wired = count(o, "wired");
    s.compressed = count(o, "compressed");
    s.cached = count(o, "cached");
    s.swapUsed = count(o, "swapUsed");
    s.swapTotal = count(o, "swapTotal");
    if (s.total == 0) fail(QStringLiteral("\"total\" is 0"));
    // Each part is at most the whole (so that their sum cannot overflow).
    for (uint64_t part : {s.app, s.wired, s.compressed, s.cached})
        if (part > s.total) fail(QStringLiteral("a part of memory exceeds \"total\""));
    if (s.swapUsed > s.swapTotal) fail(QStringLiteral("\"swapUsed\" exceeds \"swapTotal\""));
    const auto level = static_cast<int32_t>(number(o, "pressureLevel", 1, 4));
    if (level != 1 && level != 2 && level != 4)
        fail(QStringLiteral("\"pressureLevel\" is not 1, 2 or 4"));
    s.pressureLevel = TLPressureLevel{level};
    s.pressurePercent = number(o, "pressurePercent", 0, 100);
    s.cpuPercent = number(o, "cpuPercent", 0, 100);
    if (!error.isEmpty()) return s;
    s.used = std::min(s.app + s.wired + s.compressed, s.total);
    s.usagePercent = 100.0 * static_cast<double>(s.used) / static_cast<double>(s.total);
    return s;
}

std::vector<double> Reader::history(const QJsonArray& values) {
    if (values.size() < 2 || values.size() > 90)
        fail(QStringLiteral("\"history\" does not hold 2 to 90 values"));
    std::vector<double> out;
    for (const QJsonValue& v : values) {
        const double d = v.toDouble(-1);
        if (!v.isDouble() || !(d >= 0 && d <= 1))
            fail(QStringLiteral("a value of \"history\" is not a fraction from 0 to 1"));
        out.push_back(d);
    }
    return out;
}

std::vector<TLProc> Reader::processes(const QJsonArray& list) {
    if (list.isEmpty()) fail(QStringLiteral("\"processes\" is empty"));
    std::vector<TLProc> out;
    for (const QJsonValue& v : list) {
        if (!v.isObject()) fail(QStringLiteral("an entry of \"processes\" is not an object"));
        const QJsonObject o = v.toObject();
        TLProc p;
        const double pid = number(o, "pid", 1, 4194304);
        if (pid != std::floor(pid)) fail(QStringLiteral("a \"pid\" is not a whole number"));
        p.pid = static_cast<int32_t>(pid);
        p.name = o.value(QLatin1String("name")).toString().toStdString();
        if (p.name.empty()) fail(QStringLiteral("process %1 has no \"name\"").arg(p.pid));
        p.memory = count(o, "memory");
        p.cpu = number(o, "cpu", 0, 100000);
        p.energy = number(o, "energy", 0, 1000000);
        p.approximate = o.value(QLatin1String("approximate")).toBool(false);
        // The application the desktop names for it ({"id", "name"}); without one it is its
        // name's own, as an executable's process is.
        if (const QJsonObject app = o.value(QLatin1String("app")).toObject(); !app.isEmpty()) {
            TLAppIdentity identity;
            identity.id = app.value(QLatin1String("id")).toString().toStdString();
            identity.name = app.value(QLatin1String("name")).toString().toStdString();
            if (identity.id.empty() || identity.name.empty())
                fail(QStringLiteral("process %1 has an \"app\" without \"id\" or \"name\"")
                         .arg(p.pid));
            identity.key = "app:" + identity.id;
            p.app = std::make_shared<const TLAppIdentity>(std::move(identity));
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::optional<Sample> readSample(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        error = parse.error != QJsonParseError::NoError
                    ? QStringLiteral("%1 at byte %2").arg(parse.errorString()).arg(parse.offset)
                    : QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Reader read;
    Sample sample{read.systemFigures(o), read.history(o.value(QLatin1String("history")).toArray()),
                  read.processes(o.value(QLatin1String("processes")).toArray())};
    error = read.error;
    if (!error.isEmpty()) return std::nullopt;
    return sample;
}

// The pictures of the panel. A view the panel gains is one more line here, with the state it
// needs set in renderPanel.
struct PanelPicture {
    const char* file;
    TLAppearance appearance;
    TLPanelTab tab;
    bool groupApps = false;
};
constexpr PanelPicture kPanelPictures[] = {
    {"panel-light.png", TLAppearance::Light, TLPanelTab::Memory},
    {"panel-dark.png", TLAppearance::Dark, TLPanelTab::Memory},
    {"panel-energy.png", TLAppearance::Light, TLPanelTab::Energy},
    {"panel-apps.png", TLAppearance::Light, TLPanelTab::Memory, true},
};

bool report(bool ok, const QString& path) {
    std::printf("%s %s\n", ok ? "wrote" : "FAILED to write", qPrintable(path));
    return ok;
}

bool renderPanel(const Sample& sample, const QString& dir) {
    TLPanelController panel;
    QWidget* view = panel.view();
    view->show();
    panel.setRowCount(8);
    panel.setSecondsPerSample(2);
    panel.renderSystem(sample.stats, sample.history);
    panel.renderProcesses(&sample.processes);
    bool ok = true;
    for (const PanelPicture& picture : kPanelPictures) {
        panel.setTab(picture.tab);
        panel.setGroupApps(picture.groupApps);
        TLSetAppearance(view, picture.appearance);
        QApplication::processEvents();
        // The notes under the list are the Linux ones whatever system this runs on.
        const TLPlatformTexts& texts = TLLinuxTexts();
        const QString& note =
            picture.tab == TLPanelTab::Memory ? texts.footNoteMemory : texts.footNoteEnergy;
        if (panel.footNote()->text() != note) {
            std::fprintf(stderr, "tide-render-panel: the panel's note is not the Linux one\n");
            return false;
        }
        const QString path = QDir(dir).filePath(QLatin1String(picture.file));
        // The snapshot writer says nothing of a failure: no file afterwards is one.
        QFile::remove(path);
        TLWriteSnapshot(view, path, picture.appearance == TLAppearance::Dark);
        ok &= report(QFile::exists(path), path);
    }
    return ok;
}

// The tray's 22-point square for the sample with the standard display choices (the gauge and the
// usage), in a stretch of a dark bar and of a light one, side by side.
QImage trayIcons(const TLSystemStats& stats, qreal dpr) {
    TLStatusPresentation p = TLComputeStatusPresentation(stats, TLStatusBarMode::GaugeAndPercent,
                                                         TLPercentMetric::Usage, false, false);
    // The gauge moves in whole percent, as in the tray.
    p.gaugeFraction = std::round(std::clamp(stats.usagePercent, 0.0, 100.0)) / 100.0;
    const TLTrayIconContent content = TLTrayIconContentFor(p);
    constexpr int kSlot = 22, kTileW = 38, kTileH = 30;
    QImage out(QSize(2 * kTileW, kTileH) * dpr, QImage::Format_ARGB32);
    out.setDevicePixelRatio(dpr);
    QPainter painter(&out);
    const TLAppearance bars[] = {TLAppearance::Dark, TLAppearance::Light};
    for (int i = 0; i < 2; ++i) {
        const QRect tile(i * kTileW, 0, kTileW, kTileH);
        painter.fillRect(tile, TLPanelBackgroundColor().resolve(bars[i]));
        const QImage icon = TLRenderTrayIcon(content, kSlot, dpr, bars[i]);
        painter.drawImage(tile.topLeft() + QPoint(kTileW - kSlot, kTileH - kSlot) / 2, icon);
    }
    return out;
}

bool writeImage(const QImage& image, const QString& path) {
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
    return report(ok, path);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: tide-render-panel SAMPLE.json OUTPUT_DIRECTORY\n", stderr);
        return 2;
    }
    // Menus and labels in the program's faces, as the program sets them at its start.
    QFont font = QApplication::font();
    font.setFamilies(TLFontFamilies());
    QApplication::setFont(font);

    QString error;
    const QString samplePath = QString::fromLocal8Bit(argv[1]);
    const std::optional<Sample> sample = readSample(samplePath, error);
    if (!sample) {
        std::fprintf(stderr, "tide-render-panel: %s: %s\n", qPrintable(samplePath),
                     qPrintable(error));
        return 1;
    }
    const QString dir = QString::fromLocal8Bit(argv[2]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "tide-render-panel: cannot make %s\n", qPrintable(dir));
        return 1;
    }
    bool ok = renderPanel(*sample, dir);
    for (int scale : {1, 2})
        ok &= writeImage(trayIcons(sample->stats, scale),
                         QDir(dir).filePath(QStringLiteral("tray-icon@%1x.png").arg(scale)));
    return ok ? 0 : 1;
}
