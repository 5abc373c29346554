// Renders the panel widgets and the menu-bar gauge into PNG sheets, in both appearances at 1x and
// 2x, for looking at them during development:
//   tide-render-widgets [output directory, default /tmp/widgets]
// Each sheet shows the widgets on the panel background at their panel sizes; the gauge sheets are
// also written enlarged (nearest neighbour) so that single pixels can be inspected.
#include "format/TLColor.h"
#include "format/TLStatusBarImage.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLFonts.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <cmath>
#include <cstdio>

namespace {

QList<double> history() {
    QList<double> values;
    for (int i = 0; i < 90; ++i)
        values.append(0.55 + 0.12 * std::sin(i / 9.0) + 0.04 * std::sin(i * 1.7) +
                      (i > 70 ? (i - 70) * 0.012 : 0));
    return values;
}

QLabel* caption(const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setFont(TLSystemFont(11, QFont::Medium));
    TLSetTextColor(label, TLSecondaryLabelColor());
    label->move(x, y);
    label->adjustSize();
    return label;
}

// The widgets of the panel, laid out in a 322-wide column like the panel's.
struct Sheet {
    QWidget root;
    QList<TLProcRow*> rows;

    Sheet() {
        root.resize(322, 600);
        int y = 12;
        y = addHeader(y);
        y = addBigValue(y);
        y = addBars(y);
        y = addSparks(y);
        y = addRows(y);
        y = addButton(y);
        root.resize(322, y + 11);
    }

private:
    static constexpr int x = 14; // the column's leading edge

    // Each step places its views from `y` down and returns where the next one starts.

    // The title, and the three pressure chips at the trailing edge.
    int addHeader(int y) {
        auto* title = new QLabel(QStringLiteral("潮汐"), &root);
        title->setFont(TLSystemFont(13, QFont::DemiBold));
        title->move(x, y);
        title->adjustSize();
        const QList<std::pair<QString, TLColor>> chips = {
            {QStringLiteral("压力正常"), TLPressureColor(TLPressureLevel::Normal)},
            {QStringLiteral("压力警告"), TLPressureColor(TLPressureLevel::Warning)},
            {QStringLiteral("压力严重"), TLPressureColor(TLPressureLevel::Critical)}};
        int cx = 322 - 14;
        for (auto it = chips.rbegin(); it != chips.rend(); ++it) {
            auto* chip = new TLChip(&root);
            chip->setText(it->first, it->second);
            cx -= chip->width();
            chip->move(cx, y + (title->height() - chip->height()) / 2);
            cx -= 6;
        }
        return y + title->height() + 7;
    }

    int addBigValue(int y) {
        auto* big = new QLabel(QStringLiteral("8.85 GB"), &root);
        big->setFont(TLMonospacedDigitSystemFont(27, QFont::Medium));
        big->move(x, y);
        big->adjustSize();
        return y + big->height() + 9;
    }

    // Composition bars: four shares, two, more than the whole, none.
    int addBars(int y) {
        const QList<TLColor> colors = {TLColorApp(), TLColorWired(), TLColorCompressed(),
                                       TLColorCached()};
        for (const QList<double>& fractions :
             {QList<double>{0.38, 0.14, 0.05, 0.27}, QList<double>{0.5, 0.25},
              QList<double>{0.7, 0.0, 0.2, 0.3}, QList<double>{}}) {
            auto* bar = new TLStackedBarView(QRect(x, y, 294, 10), &root);
            bar->setColors(colors);
            bar->setFractions(fractions);
            y += 10 + 6;
        }
        return y + 4;
    }

    // The usage caption and four histories.
    int addSparks(int y) {
        caption(QStringLiteral("内存使用率"), &root, x, y);
        y += 20;
        for (int i = 0; i < 4; ++i) {
            auto* spark = new TLSparkView(QRect(x, y, 294, 40), &root);
            switch (i) {
            case 0:
                spark->setValues(history());
                break;
            case 1:
                spark->setTint(TLPressureColor(TLPressureLevel::Critical));
                spark->setValues({0.0, 1.0});
                break;
            case 2:
                spark->setTint(TLPressureColor(TLPressureLevel::Warning));
                spark->setValues({1.0, 0.97, 1.2, 0.9, 0.99, 1.0});
                break;
            default:
                break; // empty: background and guide lines only
            }
            y += 40 + 6;
        }
        return y + 4;
    }

    int addRows(int y) {
        struct Row {
            const char* name;
            const char* value;
            double fraction;
            bool approximate;
        };
        const Row rowData[] = {
            {"firefox-esr", "1.20 GB", 1.0, false},
            {"Web Content", "612.4 MB", 0.51, false},
            {"gnome-shell", "388.0 MB", 0.32, false},
            {"org.gnome.Nautilus.SearchProvider-with-a-very-long-name", "121.7 MB", 0.10, false},
            {"systemd-journald", "64.2 MB", 0.05, true},
            {"kworker", "1.1 MB", 0.002, false},
            {"飞书", "11.8", 0.3, false},
        };
        for (const Row& r : rowData) {
            auto* row = new TLProcRow(QRect(x, y, 294, 21), &root);
            row->setTint(r.fraction == 0.3 ? TLColorCompressed() : TLColorApp());
            row->setRank(rows.size(), QString::fromUtf8(r.name), QString::fromUtf8(r.value),
                         r.fraction, r.approximate);
            rows.append(row);
            y += 21 + 1;
        }
        return y;
    }

    // A standard control, to see the appearance's palette on it.
    int addButton(int y) {
        auto* button = new QPushButton(QStringLiteral("打开活动监视器"), &root);
        button->setFont(TLSystemFont(11));
        button->adjustSize();
        button->move(x, y + 4);
        return y + button->height() + 8;
    }
};

void drawGauges(QPainter& p, TLAppearance appearance) {
    const QColor ink = TLStatusBarTemplateInk(appearance);
    qreal y = 4;
    const QList<double> fractions = {0, 0.01, 0.011, 0.05, 0.5, 0.553, 1.0};
    for (const TLColor& color :
         {TLPressureColor(TLPressureLevel::Normal), TLPressureColor(TLPressureLevel::Warning),
          TLPressureColor(TLPressureLevel::Critical)}) {
        qreal x = 4;
        for (double f : fractions) {
            p.save();
            p.translate(x, y);
            TLStatusBarImage(color, false, f).draw(p, appearance, ink);
            p.restore();
            x += 30;
        }
        y += 16;
    }
    qreal x = 4;
    for (double f : fractions) {
        p.save();
        p.translate(x, y);
        TLStatusBarImage(TLPressureColor(TLPressureLevel::Critical), true, f)
            .draw(p, appearance, ink);
        p.restore();
        x += 30;
    }
}

QImage canvas(QSize points, qreal dpr, TLAppearance appearance) {
    QImage image(points * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(TLPanelBackgroundColor().resolve(appearance));
    return image;
}

bool save(const QImage& image, const QString& path) {
    const bool ok = image.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// A part of an image (in pixels) enlarged with nearest-neighbour sampling.
QImage zoomed(const QImage& image, const QRect& pixels, int factor) {
    QImage part = image.copy(pixels);
    part.setDevicePixelRatio(1);
    return part.scaled(part.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/widgets");
    QDir().mkpath(dir);

    Sheet sheet;
    sheet.root.show();
    sheet.root.activateWindow();
    QApplication::processEvents();
    // Hover the third row, as if the pointer were over it.
    TLProcRow* hovered = sheet.rows[2];
    QEnterEvent enter(QPointF(20, 10), hovered->mapTo(&sheet.root, QPointF(20, 10)),
                      hovered->mapToGlobal(QPointF(20, 10)));
    QApplication::sendEvent(hovered, &enter);
    if (!hovered->isHovered()) std::printf("note: the hovered row did not take the hover\n");

    bool ok = true;
    for (TLAppearance appearance : {TLAppearance::Light, TLAppearance::Dark}) {
        const QString name = appearance == TLAppearance::Dark ? "dark" : "light";
        TLSetAppearance(&sheet.root, appearance);
        for (qreal dpr : {1.0, 2.0}) {
            const QString suffix = QStringLiteral("%1@%2x").arg(name).arg(int(dpr));
            QImage image = canvas(sheet.root.size(), dpr, appearance);
            {
                QPainter painter(&image);
                sheet.root.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
            }
            ok &= save(image, dir + "/widgets-" + suffix + ".png");
            if (dpr == 1.0) {
                // The top (chip, bars), a spark view's corners and the rows, enlarged.
                ok &= save(zoomed(image, QRect(150, 8, 172, 140), 4),
                           dir + "/zoom-top-" + suffix + ".png");
                ok &= save(zoomed(image, QRect(0, 170, 120, 150), 4),
                           dir + "/zoom-spark-" + suffix + ".png");
                ok &= save(zoomed(image, QRect(0, 360, 322, 170), 3),
                           dir + "/zoom-rows-" + suffix + ".png");
            }

            QImage gauges = canvas(QSize(214, 70), dpr, appearance);
            {
                QPainter painter(&gauges);
                drawGauges(painter, appearance);
            }
            ok &= save(gauges, dir + "/gauges-" + suffix + ".png");
            const int zoom = dpr == 1.0 ? 6 : 3;
            QImage big =
                gauges.scaled(gauges.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            big.setDevicePixelRatio(1);
            ok &= save(big, dir + "/gauges-" + suffix + "-zoom.png");

            const QImage icon =
                TLStatusBarImage(TLPressureColor(TLPressureLevel::Normal), false, 0.553)
                    .toImage(dpr, appearance, TLStatusBarTemplateInk(appearance));
            ok &= save(icon, dir + "/icon-" + suffix + ".png");
        }
    }
    return ok ? 0 : 1;
}
