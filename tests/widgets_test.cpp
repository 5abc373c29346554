#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLFonts.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"
#include "widgets/TLTextLabel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The widget alone (no window background) on a transparent image.
QImage render(QWidget& widget, qreal dpr = 1) {
    QImage image(widget.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

double alphaAt(const QImage& image, int x, int y) {
    return image.pixelColor(x, y).alphaF();
}

// Colour channels of a translucent pixel (premultiplied storage rounds them) within a tolerance.
::testing::AssertionResult sameRgb(const QColor& actual, const QColor& expected,
                                   int tolerance = 4) {
    if (std::abs(actual.red() - expected.red()) <= tolerance &&
        std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << actual.name().toStdString() << " is not " << expected.name().toStdString();
}

const QRectF kSpark(0, 0, 294, 40);
const QRectF kBar(0, 0, 294, 10);
const QRectF kRow(0, 0, 294, 21);

} // namespace

// --- Spark view -----------------------------------------------------------------------------

TEST(SparkGeometry, GuideLinesAndBandOfThePanelsView) {
    const TLSparkGuides guides = TLSparkGuideLines(kSpark);
    EXPECT_EQ(guides.lower, 13.5);
    EXPECT_EQ(guides.upper, 26.5);
    const TLSparkBandRange band = TLSparkBand(kSpark);
    EXPECT_EQ(band.bottom, 1.5);
    EXPECT_EQ(band.top, 38.5);
    // The floor puts the lines on pixel centres for any height and origin.
    const TLSparkGuides odd = TLSparkGuideLines(QRectF(0, 10, 100, 35));
    EXPECT_EQ(odd.lower, 21.5); // floor(10 + 11.67) + 0.5
    EXPECT_EQ(odd.upper, 33.5); // floor(10 + 23.33) + 0.5
}

TEST(SparkGeometry, PointsSpanTheWidthAndClampToTheBand) {
    const QPolygonF two = TLSparkPoints(kSpark, {0.0, 1.0});
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0], QPointF(0, 1.5));
    EXPECT_EQ(two[1], QPointF(294, 38.5));

    const QPolygonF clamped = TLSparkPoints(kSpark, {1.7, -0.4, kNaN, 0.5});
    ASSERT_EQ(clamped.size(), 4);
    EXPECT_EQ(clamped[0].y(), 38.5);
    EXPECT_EQ(clamped[1].y(), 1.5);
    EXPECT_EQ(clamped[2].y(), 1.5);
    EXPECT_EQ(clamped[3].y(), 20.0);
    EXPECT_DOUBLE_EQ(clamped[1].x(), 98.0);
    EXPECT_DOUBLE_EQ(clamped[2].x(), 196.0);

    QList<double> ninety(90, 0.5);
    const QPolygonF full = TLSparkPoints(QRectF(3, 7, 294, 40), ninety);
    EXPECT_EQ(full.first(), QPointF(3, 27));
    EXPECT_EQ(full.last(), QPointF(297, 27));
    EXPECT_DOUBLE_EQ(full[45].x(), 3 + 45 * 294.0 / 89);
}

TEST(SparkGeometry, FewerThanTwoValuesPlotNothing) {
    EXPECT_TRUE(TLSparkPoints(kSpark, {}).isEmpty());
    EXPECT_TRUE(TLSparkPoints(kSpark, {0.5}).isEmpty());
    EXPECT_TRUE(TLSparkFillPolygon(kSpark, {}).isEmpty());
}

TEST(SparkGeometry, FillClosesAlongTheBottomEdge) {
    const QPolygonF points = TLSparkPoints(kSpark, {0.0, 1.0});
    const QPolygonF fill = TLSparkFillPolygon(kSpark, points);
    ASSERT_EQ(fill.size(), 4);
    EXPECT_EQ(fill[0], QPointF(0, 1.5));
    EXPECT_EQ(fill[1], QPointF(294, 38.5));
    EXPECT_EQ(fill[2], QPointF(294, 0));
    EXPECT_EQ(fill[3], QPointF(0, 0));
}

TEST(SparkGeometry, TheDrawnLineStaysWithinItsToleranceOfEveryValue) {
    // A flat history is drawn as one segment, a spike keeps its peak, and in random histories of
    // every roughness no value is further from the drawn line than the tolerance.
    QList<double> flat(90, 0.4);
    EXPECT_EQ(TLSparkLinePoints(TLSparkPoints(kSpark, flat), 0.05).size(), 2);
    flat[45] = 0.41; // 0.37 pt above its neighbours
    const QPolygonF spike = TLSparkLinePoints(TLSparkPoints(kSpark, flat), 0.05);
    EXPECT_TRUE(spike.contains(TLSparkPoints(kSpark, flat)[45]));

    auto distance = [](const QPointF& p, const QPointF& a, const QPointF& b) {
        const QPointF ab = b - a;
        const qreal t =
            std::clamp<qreal>(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0, 1);
        const QPointF d = p - (a + t * ab);
        return std::hypot(d.x(), d.y());
    };
    std::mt19937 random(7);
    for (double step : {0.0005, 0.002, 0.01, 0.1, 0.5}) {
        std::uniform_real_distribution<double> move(-step, step);
        for (int run = 0; run < 50; ++run) {
            QList<double> values{0.5};
            for (int i = 1; i < 90; ++i)
                values.append(std::clamp(values.last() + move(random), 0.0, 1.0));
            const QPolygonF all = TLSparkPoints(kSpark, values);
            for (qreal tolerance : {0.025, 0.05}) {
                const QPolygonF kept = TLSparkLinePoints(all, tolerance);
                ASSERT_EQ(kept.first(), all.first());
                ASSERT_EQ(kept.last(), all.last());
                qsizetype k = 0;
                for (const QPointF& p : all) {
                    while (k + 1 < kept.size() && kept[k + 1].x() < p.x())
                        ++k;
                    const QPointF& a = kept[k];
                    const QPointF& b = kept[std::min(k + 1, kept.size() - 1)];
                    ASSERT_LE(distance(p, a, b), tolerance + 1e-9) << "step " << step;
                }
                if (step <= 0.0005) {
                    EXPECT_LT(kept.size(), all.size() / 2);
                }
            }
        }
    }
}

TEST(SparkView, GuideLinesAreCrispPixelRows) {
    TLSparkView view(QRect(0, 0, 294, 40));
    EXPECT_TRUE(view.values().isEmpty());
    EXPECT_EQ(view.tint(), TLSystemGreen());
    const QImage x1 = render(view);
    // Background: black at 0.18; a guide line adds black at 0.5 over it: 0.5 + 0.18 × 0.5.
    EXPECT_NEAR(alphaAt(x1, 147, 25), 0.18, 0.01);
    EXPECT_NEAR(alphaAt(x1, 147, 26), 0.59, 0.01); // y-up 13.5
    EXPECT_NEAR(alphaAt(x1, 147, 27), 0.18, 0.01);
    EXPECT_NEAR(alphaAt(x1, 147, 13), 0.59, 0.01); // y-up 26.5
    EXPECT_NEAR(alphaAt(x1, 147, 14), 0.18, 0.01);
    const QImage x2 = render(view, 2);
    EXPECT_NEAR(alphaAt(x2, 294, 51), 0.18, 0.01);
    EXPECT_NEAR(alphaAt(x2, 294, 52), 0.59, 0.01);
    EXPECT_NEAR(alphaAt(x2, 294, 53), 0.59, 0.01);
    EXPECT_NEAR(alphaAt(x2, 294, 54), 0.18, 0.01);
}

TEST(SparkView, LowValuesAreDrawnAtTheBottom) {
    TLSparkView view(QRect(0, 0, 294, 40));
    view.setValues({0.0, 0.0});
    const QImage img = render(view);
    const QColor green = TLSystemGreen().resolve(TLAppearance::Light);
    // The line, 1.5 wide around y-up 1.5, covers the pixel row 38 (from the top) entirely.
    EXPECT_EQ(img.pixelColor(147, 38), green);
    EXPECT_NEAR(alphaAt(img, 147, 2), 0.18, 0.01); // only the background up there
}

TEST(SparkView, GradientIsStrongestAtTheTopAndClippedToTheRoundedBackground) {
    TLSparkView view(QRect(0, 0, 294, 40));
    view.setValues({1.0, 1.0});
    const QImage img = render(view);
    // Fill alpha 0.42 at the top of the area fading to 0.04 at its bottom, over the background.
    EXPECT_GT(alphaAt(img, 147, 5), alphaAt(img, 147, 20));
    EXPECT_GT(alphaAt(img, 147, 20), alphaAt(img, 147, 36));
    EXPECT_NEAR(alphaAt(img, 147, 38), 0.04 + 0.18 * 0.96, 0.03);
    // The line and the fill reach every corner but stay inside the radius-5 background.
    for (QPoint corner : {QPoint(0, 0), QPoint(293, 0), QPoint(0, 39), QPoint(293, 39)})
        EXPECT_EQ(img.pixelColor(corner).alpha(), 0) << corner.x() << "," << corner.y();
    // The line itself, 1.5 wide around 1.5 below the top edge, covers pixel row 1.
    EXPECT_EQ(img.pixelColor(147, 1), TLSystemGreen().resolve(TLAppearance::Light));
}

// --- Stacked bar ----------------------------------------------------------------------------

TEST(StackedBarGeometry, SegmentsOverlapByHalfAPointAndLeaveTheRestToTheTrack) {
    const auto segments = TLStackedBarSegments(kBar, {0.5, 0.25}, 4);
    ASSERT_EQ(segments.size(), 2);
    EXPECT_EQ(segments[0].index, 0);
    EXPECT_EQ(segments[0].rect, QRectF(0, 0, 147.5, 10));
    EXPECT_EQ(segments[1].index, 1);
    EXPECT_EQ(segments[1].rect, QRectF(147, 0, 74, 10));
}

TEST(StackedBarGeometry, EmptyAndZeroSegmentsTakeNoRoom) {
    EXPECT_TRUE(TLStackedBarSegments(kBar, {}, 4).isEmpty());
    EXPECT_TRUE(TLStackedBarSegments(kBar, {0.5, 0.5}, 0).isEmpty());
    const auto segments = TLStackedBarSegments(kBar, {0.25, 0.0, -0.1, kNaN, 0.25}, 5);
    ASSERT_EQ(segments.size(), 2);
    EXPECT_EQ(segments[1].index, 4);
    EXPECT_EQ(segments[1].rect.x(), 73.5); // no gap where the zero segments were
    // The shorter list decides how many segments exist.
    EXPECT_EQ(TLStackedBarSegments(kBar, {0.1, 0.1, 0.1}, 2).size(), 2);
}

TEST(StackedBarGeometry, StopsAfterTheSegmentThatCrossesTheEnd) {
    const auto segments = TLStackedBarSegments(kBar, {0.7, 0.2, 0.3, 0.1}, 4);
    ASSERT_EQ(segments.size(), 3);
    EXPECT_DOUBLE_EQ(segments[2].rect.x(), 0.9 * 294);
    EXPECT_DOUBLE_EQ(segments[2].rect.width(), 0.3 * 294 + 0.5);
    // Fractions above 1 are not lowered; the next segment is not drawn.
    const auto over = TLStackedBarSegments(kBar, {1.7, 0.1}, 2);
    ASSERT_EQ(over.size(), 1);
    EXPECT_DOUBLE_EQ(over[0].rect.width(), 1.7 * 294 + 0.5);
}

TEST(StackedBarView, DrawsSegmentsOverTheTrackInsideTheCapsule) {
    TLStackedBarView bar(QRect(0, 0, 294, 10));
    EXPECT_TRUE(bar.colors().isEmpty());
    EXPECT_TRUE(bar.fractions().isEmpty());
    const QList<TLColor> colors = {TLColorApp(), TLColorWired(), TLColorCompressed(),
                                   TLColorCached()};
    bar.setColors(colors);
    bar.setFractions({0.5, 0.25});
    EXPECT_EQ(bar.colors(), colors);
    const QImage img = render(bar);
    const auto light = [](const TLColor& c) { return c.resolve(TLAppearance::Light); };
    EXPECT_EQ(img.pixelColor(70, 5), light(TLColorApp()));
    EXPECT_EQ(img.pixelColor(146, 5), light(TLColorApp()));
    EXPECT_EQ(img.pixelColor(147, 5), light(TLColorWired()));
    EXPECT_EQ(img.pixelColor(200, 5), light(TLColorWired()));
    // The last quarter shows the track: label colour at 0.1.
    EXPECT_EQ(img.pixelColor(260, 5).rgb(), qRgb(0, 0, 0));
    EXPECT_NEAR(alphaAt(img, 260, 5), 0.1, 0.01);
    // The capsule's round ends clip the first segment.
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(img.pixelColor(0, 9).alpha(), 0);
    EXPECT_EQ(img.pixelColor(5, 0), light(TLColorApp()));
}

TEST(StackedBarView, AFullBarIsClippedAtTheRoundRightEnd) {
    TLStackedBarView bar(QRect(0, 0, 294, 10));
    bar.setColors({TLColorApp()});
    bar.setFractions({1.0});
    const QImage img = render(bar);
    EXPECT_EQ(img.pixelColor(290, 5), TLColorApp().resolve(TLAppearance::Light));
    EXPECT_LT(img.pixelColor(293, 5).alpha(), 255); // anti-aliased round end
    EXPECT_EQ(img.pixelColor(293, 0).alpha(), 0);
}

// --- Process row ----------------------------------------------------------------------------

TEST(ProcRowGeometry, BarAndHighlightOfTheStandardRow) {
    EXPECT_EQ(TLProcRowBarRect(kRow, 1.0), QRectF(4, 1.5, 286, 18));
    EXPECT_EQ(TLProcRowBarRect(kRow, 0.5), QRectF(4, 1.5, 143, 18));
    EXPECT_EQ(TLProcRowHighlightRect(kRow), QRectF(4, 1, 286, 19));
}

TEST(ProcRowGeometry, NoBarUpToOnePoint) {
    EXPECT_TRUE(TLProcRowBarRect(kRow, 0).isNull());
    EXPECT_TRUE(TLProcRowBarRect(kRow, 1.0 / 286).isNull());
    EXPECT_FALSE(TLProcRowBarRect(kRow, 1.01 / 286).isNull());
    EXPECT_TRUE(TLProcRowBarRect(kRow, -0.2).isNull());
    EXPECT_TRUE(TLProcRowBarRect(kRow, kNaN).isNull());
    EXPECT_EQ(TLProcRowBarRect(kRow, 1.7), QRectF(4, 1.5, 286, 18));
}

TEST(ProcRowGeometry, ValueKeepsItsWidthAndTheNameGivesWay) {
    const TLProcRowLabelRects fits = TLProcRowLayout(QSizeF(294, 21), 100, 50);
    EXPECT_EQ(fits.name, QRectF(8, 0, 100, 21));
    EXPECT_EQ(fits.value, QRectF(236, 0, 50, 21));
    const TLProcRowLabelRects longName = TLProcRowLayout(QSizeF(294, 21), 400, 50);
    EXPECT_EQ(longName.name, QRectF(8, 0, 222, 21)); // ends 6 before the value
    EXPECT_EQ(longName.value, QRectF(236, 0, 50, 21));
    const TLProcRowLabelRects crowded = TLProcRowLayout(QSizeF(60, 21), 30, 50);
    EXPECT_EQ(crowded.name.width(), 0);
    EXPECT_EQ(crowded.value, QRectF(2, 0, 50, 21));
}

TEST(ProcRow, ApproximateValuesAreMarkedAndDimmer) {
    TLProcRow row(QRect(0, 0, 294, 21));
    EXPECT_EQ(row.pid(), 0);
    EXPECT_EQ(row.tint(), TLSystemBlue());
    EXPECT_EQ(row.fraction(), 0);

    row.setRank(0, "Finder", "1.20 GB", 0.5, true);
    EXPECT_EQ(row.valueLabel()->text(), "~1.20 GB");
    EXPECT_EQ(TLTextColor(row.valueLabel()), TLTertiaryLabelColor());
    EXPECT_EQ(row.valueLabel()->palette().color(QPalette::WindowText),
              TLTertiaryLabelColor().resolve(TLAppearance::Light));

    row.setRank(0, "Finder", "1.20 GB", 0.5, false);
    EXPECT_EQ(row.valueLabel()->text(), "1.20 GB");
    EXPECT_EQ(TLTextColor(row.valueLabel()), TLSecondaryLabelColor());
    EXPECT_EQ(row.valueLabel()->palette().color(QPalette::WindowText),
              TLSecondaryLabelColor().resolve(TLAppearance::Light));
    EXPECT_EQ(TLTextColor(row.nameLabel()), TLLabelColor());

    row.setRank(3, QString(), QString(), 0.2, true);
    EXPECT_EQ(row.valueLabel()->text(), "~");
    EXPECT_EQ(row.nameLabel()->text(), "");
}

TEST(TextLabel, SizeHintsAreQLabelsAndFollowTheText) {
    // The layout places the panel's figures by these hints: they must be the ones QLabel gives,
    // for every text the label has shown, and QLabel's own where its other rules apply.
    TLTextLabel label;
    QLabel reference;
    for (QLabel* l : {static_cast<QLabel*>(&label), &reference})
        l->setTextFormat(Qt::PlainText);
    const QString texts[] = {"2.02 GB",           "~49.5 MB", "100.0%", "共 7.76 GB", "未启用", "",
                             "1.23 GB / 2.00 GB", "压力正常", " x ",    "two\nlines"};
    for (qreal size : {9.5, 11.0, 13.0, 30.0}) {
        for (int weight : {QFont::Normal, QFont::DemiBold}) {
            QFont font = QApplication::font();
            font.setPointSizeF(size);
            font.setWeight(QFont::Weight(weight));
            label.setFont(font);
            reference.setFont(font);
            for (const QString& text : texts) {
                label.setText(text);
                reference.setText(text);
                ASSERT_EQ(label.sizeHint(), reference.sizeHint()) << text.toStdString() << size;
                ASSERT_EQ(label.minimumSizeHint(), reference.minimumSizeHint())
                    << text.toStdString();
            }
        }
    }
    label.setMargin(3);
    reference.setMargin(3);
    label.setText("49.5 MB");
    reference.setText("49.5 MB");
    EXPECT_EQ(label.sizeHint(), reference.sizeHint());
    EXPECT_NEAR(label.textWidth(), QFontMetricsF(label.font()).horizontalAdvance("49.5 MB"), 0.5);
}

TEST(TextLabel, FiguresSetWithoutShapingKeepTheirShapedWidths) {
    // Figures are laid out on every refresh without OpenType shaping, which cost most of a
    // refresh's layout. Their boxes, and so the panel's layout, must stay those of the shaped
    // text, and each figure drawn alone in a box of that size must show its ink.
    const QString texts[] = {"2.02 GB", "~49.5 MB",          "100.0%",   "53.5%", "共 7.76 GB",
                             "未启用",  "1.23 GB / 2.00 GB", "910.8 MB", "0 B",   "1,024 KB",
                             "47%"};
    for (qreal size : {9.5, 11.5, 27.0}) {
        for (QFont::Weight weight : {QFont::Normal, QFont::Medium, QFont::Bold}) {
            const QFont figures = TLMonospacedDigitSystemFont(size, weight);
            ASSERT_TRUE(figures.styleStrategy() & QFont::PreferNoShaping);
            QFont shaped = figures;
            shaped.setStyleStrategy(QFont::PreferDefault);
            for (const QString& text : texts) {
                TLTextLabel unshapedLabel, shapedLabel;
                unshapedLabel.setFont(figures);
                shapedLabel.setFont(shaped);
                unshapedLabel.setText(text);
                shapedLabel.setText(text);
                EXPECT_EQ(unshapedLabel.sizeHint(), shapedLabel.sizeHint())
                    << text.toStdString() << " at " << size << ", weight " << weight;
                unshapedLabel.resize(unshapedLabel.sizeHint());
                QImage image(unshapedLabel.size(), QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::white);
                unshapedLabel.render(&image);
                int ink = 0;
                for (int y = 0; y < image.height(); ++y)
                    for (int x = 0; x < image.width(); ++x)
                        ink += qGray(image.pixel(x, y)) < 128;
                EXPECT_GT(ink, text.size()) << text.toStdString() << " at " << size;
            }
        }
    }
}

TEST(ProcRow, LongNamesAreShortenedInTheMiddle) {
    QWidget window;
    TLProcRow& row = *new TLProcRow(QRect(0, 0, 294, 21), &window);
    window.show();
    const QString name = "org.example.VeryLongApplicationName.with.many.components.Helper";
    row.setRank(0, name, "121.7 MB", 0.1, false);
    const QString shown = row.nameLabel()->text();
    EXPECT_EQ(row.name(), name);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("org.example")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("Helper")) << shown.toStdString();
    const QRect nameRect = row.nameLabel()->geometry();
    const QRect valueRect = row.valueLabel()->geometry();
    EXPECT_EQ(nameRect.x(), 8);
    EXPECT_EQ(valueRect.x() + valueRect.width(), 286);
    EXPECT_GE(valueRect.x() - (nameRect.x() + nameRect.width()), 6);
    EXPECT_LE(QFontMetricsF(row.nameLabel()->font()).horizontalAdvance(shown), nameRect.width());
    EXPECT_GE(valueRect.width(),
              QFontMetricsF(row.valueLabel()->font()).horizontalAdvance("121.7 MB"));
    // A short name is shown whole, and a wider row makes room again.
    row.resize(700, 21);
    EXPECT_EQ(row.nameLabel()->text(), name);
}

TEST(ProcRow, NamesAreNeverReadAsMarkup) {
    TLProcRow row(QRect(0, 0, 294, 21));
    row.setRank(0, "<b>evil</b>", "1 MB", 0.1, false);
    EXPECT_EQ(row.nameLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(row.valueLabel()->textFormat(), Qt::PlainText);
}

TEST(ProcRow, BarAndHoverHighlightPixels) {
    QWidget window;
    window.resize(294, 21);
    auto* row = new TLProcRow(QRect(0, 0, 294, 21), &window);
    row->setTint(TLSystemOrange());
    row->setRank(0, QString(), QString(), 0.5, false);
    const QImage plain = render(*row);
    const QColor orange = TLSystemOrange().resolve(TLAppearance::Light);
    EXPECT_TRUE(sameRgb(plain.pixelColor(50, 10), orange));
    EXPECT_NEAR(alphaAt(plain, 50, 10), 0.18, 0.01);
    EXPECT_EQ(plain.pixelColor(50, 0).alpha(), 0); // 1.5 points above and below stay clear
    EXPECT_EQ(plain.pixelColor(50, 20).alpha(), 0);
    EXPECT_EQ(plain.pixelColor(200, 10).alpha(), 0); // beyond the bar: transparent

    window.show();
    window.activateWindow();
    QApplication::processEvents();
    ASSERT_TRUE(row->isActiveWindow());
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), row->mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(row, &enter);
    EXPECT_TRUE(row->isHovered());
    const QImage hovered = render(*row);
    // The bar darkens to 0.30 and the highlight (label colour at 0.07) covers the row.
    EXPECT_NEAR(alphaAt(hovered, 50, 10), 0.30 + 0.07 * 0.70, 0.01);
    EXPECT_EQ(hovered.pixelColor(200, 10).rgb(), qRgb(0, 0, 0));
    EXPECT_NEAR(alphaAt(hovered, 200, 10), 0.07, 0.01);
    EXPECT_NEAR(alphaAt(hovered, 200, 1), 0.07, 0.01); // inset 1 vertically
    EXPECT_EQ(hovered.pixelColor(200, 0).alpha(), 0);
    EXPECT_EQ(hovered.pixelColor(2, 10).alpha(), 0); // inset 4 horizontally

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(row, &leave);
    EXPECT_FALSE(row->isHovered());
}

TEST(ProcRow, NoHoverWhileItsWindowIsInactive) {
    QWidget window;
    auto* row = new TLProcRow(QRect(0, 0, 294, 21), &window);
    QWidget other;
    window.show();
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    ASSERT_FALSE(row->isActiveWindow());
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), row->mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(row, &enter);
    EXPECT_FALSE(row->isHovered());
}

// A menu or alert holds the pointer, so the row never hears the pointer leave: once the menu has
// closed the row looks where the pointer is, and a hidden row is never highlighted.
TEST(ProcRow, HoverIsRecheckedAfterItsMenuAndDroppedWhenHidden) {
    QWidget window;
    window.resize(400, 100);
    auto* row = new TLProcRow(QRect(0, 0, 294, 21), &window);
    window.show();
    window.activateWindow();
    QApplication::processEvents();
    QCursor::setPos(window.mapToGlobal(QPoint(380, 90))); // well away from the row
    const auto enter = [row] {
        QEnterEvent event(QPointF(10, 10), QPointF(10, 10), row->mapToGlobal(QPointF(10, 10)));
        QApplication::sendEvent(row, &event);
    };
    enter();
    ASSERT_TRUE(row->isHovered());
    auto* menu = new QMenu;
    menu->addAction(QStringLiteral("x"));
    row->setMenu(menu);
    QContextMenuEvent open(QContextMenuEvent::Mouse, QPoint(5, 5), row->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(row, &open);
    QApplication::processEvents();
    menu->hide();
    QApplication::processEvents();
    EXPECT_FALSE(row->isHovered());

    enter();
    ASSERT_TRUE(row->isHovered());
    row->hide();
    EXPECT_FALSE(row->isHovered());
}

TEST(ProcRow, AReplacedMenuIsDeletedUnlessItIsOpen) {
    TLProcRow row(QRect(0, 0, 294, 21));
    QPointer<QMenu> first = new QMenu;
    row.setMenu(first);
    EXPECT_EQ(row.menu(), first.data());
    EXPECT_TRUE(first->isWindow()); // still a popup, not turned into a child widget
    QPointer<QMenu> second = new QMenu;
    row.setMenu(second);
    EXPECT_TRUE(first.isNull());

    second->addAction(QStringLiteral("结束进程…")); // an empty menu does not open on every Qt
    second->popup(QPoint(0, 0));
    QApplication::processEvents();
    ASSERT_TRUE(second->isVisible());
    row.setMenu(new QMenu);
    EXPECT_FALSE(second.isNull()); // the open menu stays until it closes
    second->hide();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
}

// --- Chip -----------------------------------------------------------------------------------

TEST(ChipGeometry, WidthIsTheLabelPlusFourteen) {
    EXPECT_EQ(TLChipSize(0), QSizeF(14, 16));
    EXPECT_EQ(TLChipSize(48), QSizeF(62, 16));
}

TEST(Chip, StartsEmptyAndInvisible) {
    TLChip chip;
    EXPECT_EQ(chip.size(), QSize(14, 16));
    EXPECT_EQ(chip.label()->text(), "");
    EXPECT_FALSE(chip.backgroundColor().has_value());
    const QImage img = render(chip);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(img.pixelColor(x, y).alpha(), 0);
}

TEST(Chip, TextColourAndPaleBackground) {
    TLChip chip;
    chip.setText("压力警告", TLSystemYellow());
    const QColor yellow = TLSystemYellow().resolve(TLAppearance::Light);
    EXPECT_EQ(chip.label()->text(), "压力警告");
    EXPECT_EQ(chip.label()->palette().color(QPalette::WindowText), yellow);
    EXPECT_EQ(chip.backgroundColor(), TLSystemYellow().withAlpha(0.16));
    const QImage img = render(chip);
    EXPECT_TRUE(sameRgb(img.pixelColor(3, 8), yellow));
    EXPECT_NEAR(alphaAt(img, 3, 8), 0.16, 0.01);
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0); // radius-7 corners

    // A colour with its own alpha still gives a background of exactly 0.16.
    chip.setText("压力警告", TLSystemYellow().withAlpha(0.5));
    EXPECT_NEAR(alphaAt(render(chip), 3, 8), 0.16, 0.01);
}

TEST(Chip, WidthFollowsTheText) {
    TLChip chip;
    chip.setText("压力正常", TLSystemGreen());
    const QFontMetricsF metrics(chip.label()->font());
    const int shortWidth = chip.width();
    EXPECT_EQ(shortWidth, std::ceil(metrics.horizontalAdvance("压力正常")) + 14);
    EXPECT_EQ(chip.height(), 16);
    EXPECT_EQ(chip.sizeHint(), chip.size());
    EXPECT_EQ(chip.label()->geometry(), QRect(7, 0, shortWidth - 14, 16));

    chip.setText("压力正常 · 很长的文字", TLSystemGreen());
    EXPECT_GT(chip.width(), shortWidth);
    EXPECT_EQ(chip.label()->geometry(), QRect(7, 0, chip.width() - 14, 16));
}
