#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLFonts.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <gtest/gtest.h>

namespace {

QImage render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QColor text(const QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

// Counts the appearance events a widget receives.
class Listener : public QWidget {
public:
    using QWidget::QWidget;
    int events = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() == TLAppearanceChangeEventType()) ++events;
        return QWidget::event(e);
    }
};

} // namespace

TEST(Appearance, NearestSettingWins) {
    QWidget root;
    auto* middle = new QWidget(&root);
    auto* leaf = new QWidget(middle);
    EXPECT_EQ(TLEffectiveAppearance(leaf), TLAppearance::Light);
    TLSetAppearance(&root, TLAppearance::Dark);
    EXPECT_EQ(TLEffectiveAppearance(leaf), TLAppearance::Dark);
    TLSetAppearance(middle, TLAppearance::Light);
    EXPECT_EQ(TLEffectiveAppearance(leaf), TLAppearance::Light);
    EXPECT_EQ(TLEffectiveAppearance(&root), TLAppearance::Dark);
    EXPECT_EQ(TLEffectiveAppearance(nullptr), TLAppearance::Light);
}

TEST(Appearance, SwitchingTheTreeRecoloursLabels) {
    QWidget root;
    auto* box = new QWidget(&root);
    auto* secondary = new QLabel("交换空间", box);
    TLSetTextColor(secondary, TLSecondaryLabelColor());
    auto* plain = new QLabel("--", box);
    EXPECT_EQ(text(secondary), TLSecondaryLabelColor().resolve(TLAppearance::Light));

    TLSetAppearance(&root, TLAppearance::Dark);
    EXPECT_EQ(text(secondary), TLSecondaryLabelColor().resolve(TLAppearance::Dark));
    EXPECT_EQ(text(plain), TLLabelColor().resolve(TLAppearance::Dark));
    // The coloured label keeps following the tree in every other role.
    EXPECT_EQ(secondary->palette().color(QPalette::Window),
              TLPanelBackgroundColor().resolve(TLAppearance::Dark));

    TLSetAppearance(&root, TLAppearance::Light);
    EXPECT_EQ(text(secondary), TLSecondaryLabelColor().resolve(TLAppearance::Light));
    EXPECT_EQ(text(plain), TLLabelColor().resolve(TLAppearance::Light));
    EXPECT_EQ(secondary->palette().color(QPalette::Window),
              TLPanelBackgroundColor().resolve(TLAppearance::Light));
}

TEST(Appearance, ALabelPutIntoADarkTreeTakesItsColours) {
    QWidget root;
    TLSetAppearance(&root, TLAppearance::Dark);
    auto* label = new QLabel("62%");
    TLSetTextColor(label, TLSystemYellow());
    EXPECT_EQ(text(label), TLSystemYellow().resolve(TLAppearance::Light));
    label->setParent(&root);
    EXPECT_EQ(text(label), TLSystemYellow().resolve(TLAppearance::Dark));
    // A new colour is resolved in the label's appearance at once.
    TLSetTextColor(label, TLSystemRed());
    EXPECT_EQ(text(label), TLSystemRed().resolve(TLAppearance::Dark));
}

TEST(Appearance, EveryWidgetOfTheTreeIsTold) {
    QWidget root;
    auto* a = new Listener(&root);
    auto* b = new Listener(new QWidget(&root));
    TLSetAppearance(&root, TLAppearance::Dark);
    EXPECT_EQ(a->events, 1);
    EXPECT_EQ(b->events, 1);
}

TEST(Appearance, CustomWidgetsDrawInTheirTreesAppearance) {
    QWidget root;
    auto* spark = new TLSparkView(QRect(0, 0, 294, 40), &root);
    auto* row = new TLProcRow(QRect(0, 40, 294, 21), &root);
    row->setRank(0, "kernel_task", "1.20 GB", 0.5, false);
    auto* chip = new TLChip(&root);
    // A colour whose variants differ plainly (the chip's background is pale).
    chip->setText("压力正常", TLLabelColor());

    EXPECT_EQ(render(*spark).pixelColor(147, 5).rgb(), qRgb(0, 0, 0));
    TLSetAppearance(&root, TLAppearance::Dark);
    // The background is the quaternary label colour at 0.18: white in the dark.
    EXPECT_EQ(render(*spark).pixelColor(147, 5).rgb(), qRgb(255, 255, 255));
    EXPECT_EQ(text(row->nameLabel()), TLLabelColor().resolve(TLAppearance::Dark));
    EXPECT_EQ(text(row->valueLabel()), TLSecondaryLabelColor().resolve(TLAppearance::Dark));
    EXPECT_EQ(text(chip->label()), TLLabelColor().resolve(TLAppearance::Dark));
    EXPECT_EQ(render(*chip).pixelColor(3, 8).rgb(), qRgb(255, 255, 255));
}

TEST(Fonts, FractionalSizesRoundDownToWholePixels) {
    EXPECT_EQ(TLFontPixelSize(11.5), 11);
    EXPECT_EQ(TLFontPixelSize(10.5), 10);
    EXPECT_EQ(TLFontPixelSize(9.5), 9);
    EXPECT_EQ(TLFontPixelSize(27), 27);
    EXPECT_EQ(TLFontPixelSize(13), 13);
    EXPECT_EQ(TLFontPixelSize(0), 1);
    EXPECT_EQ(TLSystemFont(11.5).pixelSize(), 11);
    EXPECT_EQ(TLSystemFont(13, QFont::DemiBold).weight(), QFont::DemiBold);
}

TEST(Fonts, ChineseTextUsesTheSimplifiedChineseFace) {
    if (!QFontDatabase::families().contains("Noto Sans CJK SC"))
        GTEST_SKIP() << "Noto Sans CJK SC (fonts-noto-cjk) is not installed";
    EXPECT_EQ(QFontInfo(TLSystemFont(11.5)).family(), "Noto Sans CJK SC");
    EXPECT_TRUE(QFontMetricsF(TLSystemFont(11.5)).inFontUcs4(U'潮'));
}

TEST(Fonts, DigitsOfTheMonospacedDigitFontsShareOneAdvance) {
    struct Use {
        qreal size;
        QFont::Weight weight;
    } uses[] = {{27, QFont::Medium},
                {11.5, QFont::Medium},
                {11.5, QFont::Normal},
                {11, QFont::Medium},
                {10.5, QFont::DemiBold}};
    for (const Use& use : uses) {
        const QFontMetricsF metrics(TLMonospacedDigitSystemFont(use.size, use.weight));
        const qreal one = metrics.horizontalAdvance(QLatin1Char('1'));
        EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('8')), one) << use.size;
        for (char digit = '0'; digit <= '9'; ++digit)
            EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char(digit)), one)
                << use.size << " " << digit;
        // So figures of the same length have the same width.
        EXPECT_EQ(metrics.horizontalAdvance("11.1%"), metrics.horizontalAdvance("88.8%"));
    }
}
