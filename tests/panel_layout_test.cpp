// The panel's view tree and its rendering of a system sample.
#include "panel_fakes.h"

#include "format/TLColor.h"
#include "format/TLFormat.h"
#include "panel/TLPanelControls.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <gtest/gtest.h>

namespace {

constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;

// Top and bottom of a widget in the root's coordinates.
int topIn(QWidget* root, QWidget* w) {
    return w->mapTo(root, QPoint(0, 0)).y();
}
int bottomIn(QWidget* root, QWidget* w) {
    return topIn(root, w) + w->height();
}

int visibleRows(const TLPanelController& panel) {
    int n = 0;
    for (TLProcRow* row : panel.rows())
        n += row->isHidden() ? 0 : 1;
    return n;
}

} // namespace

// --- Layout -------------------------------------------------------------------------------------

TEST(PanelLayout, ColumnOfFourteenItemsWithItsInsetsSizesAndSpacings) {
    FakePanel f;
    QWidget* root = f.panel.view();
    ASSERT_TRUE(f.panel.isViewLoaded());
    EXPECT_EQ(root->width(), 322);

    const QList<QWidget*>& items = f.panel.columnItems();
    ASSERT_EQ(items.size(), 14);
    for (QWidget* item : items) {
        EXPECT_EQ(item->width(), 294);
        EXPECT_EQ(item->mapTo(root, QPoint(0, 0)).x(), 14);
    }
    EXPECT_EQ(items[2], f.panel.bar());
    EXPECT_EQ(items[6], f.panel.spark());
    EXPECT_EQ(items[9], f.panel.seg());
    EXPECT_EQ(items[10], f.panel.rowsStack());
    EXPECT_EQ(items[11], f.panel.footNote());
    EXPECT_EQ(f.panel.bar()->height(), 10);
    EXPECT_EQ(f.panel.spark()->height(), 40);
    for (int separator : {4, 8, 12}) {
        EXPECT_NE(qobject_cast<TLSeparatorLine*>(items[separator]), nullptr);
        EXPECT_EQ(items[separator]->height(), 1);
    }

    // The gap after each item, top to bottom, then the insets.
    const int gaps[] = {7, 9, 10, 10, 9, 7, 9, 10, 9, 6, 8, 8, 8};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(topIn(root, items[i + 1]) - bottomIn(root, items[i]), gaps[i]) << "after " << i;
    EXPECT_EQ(topIn(root, items.front()), 12);
    EXPECT_EQ(root->height() - bottomIn(root, items.back()), 11);

    // Twelve rows of 294 × 21, one point apart, the first eight shown.
    ASSERT_EQ(f.panel.rows().size(), 12);
    for (int i = 0; i < 8; ++i) {
        TLProcRow* row = f.panel.rows()[i];
        EXPECT_EQ(row->size(), QSize(294, 21));
        if (i > 0) {
            EXPECT_EQ(topIn(root, row) - bottomIn(root, f.panel.rows()[i - 1]), 1);
        }
    }
    EXPECT_EQ(visibleRows(f.panel), 8);
    EXPECT_EQ(f.panel.rowsStack()->height(), 8 * 21 + 7);

    // Footer: the gear button is 30 wide and ends at the right edge of the column.
    EXPECT_EQ(f.panel.gearButton()->width(), 30);
    EXPECT_EQ(f.panel.gearButton()->mapTo(root, QPoint(30, 0)).x(), 14 + 294);
}

TEST(PanelLayout, FiguresLineUpOnTheRightEdgeOfTheColumn) {
    FakePanel f;
    QWidget* root = f.panel.view();
    TLSystemStats s;
    s.total = 16 * GiB;
    s.swapTotal = 2 * GiB;
    f.panel.renderSystem(s, {});
    root->show(); // rows lay out their changed texts from the event loop while shown
    QApplication::processEvents();
    QList<QLabel*> right = f.panel.legendValues();
    right << f.panel.totalValue() << f.panel.usageNow() << f.panel.pressureValue()
          << f.panel.swapValue() << f.panel.cpuValue();
    // Figures that grow and shrink on screen keep the whole of their text, on the same edge.
    TLSystemStats wide = s;
    wide.used = wide.app = wide.cached = 1234 * MiB;
    wide.swapUsed = 987 * MiB;
    wide.usagePercent = wide.pressurePercent = 100;
    wide.cpuPercent = 77.7;
    TLSystemStats narrow = s;
    narrow.swapTotal = 0;
    for (const TLSystemStats* stats : {&s, &wide, &narrow, &s}) {
        f.panel.renderSystem(*stats, {});
        QApplication::processEvents();
        for (QLabel* label : right) {
            EXPECT_EQ(label->mapTo(root, QPoint(label->width(), 0)).x(), 308)
                << label->text().toStdString();
            EXPECT_EQ(label->size(), label->sizeHint()) << label->text().toStdString();
        }
        EXPECT_EQ(f.panel.bigValue()->size(), f.panel.bigValue()->sizeHint());
    }
    // The chip sits at the right end of the header.
    EXPECT_EQ(f.panel.chip()->mapTo(root, QPoint(f.panel.chip()->width(), 0)).x(), 308);
}

TEST(PanelLayout, InitialTextsBeforeTheFirstSample) {
    FakePanel f;
    f.panel.view();
    for (QLabel* label : {f.panel.bigValue(), f.panel.usageNow(), f.panel.pressureValue(),
                          f.panel.swapValue(), f.panel.cpuValue()})
        EXPECT_EQ(label->text(), "--");
    ASSERT_EQ(f.panel.legendValues().size(), 4);
    for (QLabel* label : f.panel.legendValues())
        EXPECT_EQ(label->text(), "--");
    EXPECT_TRUE(f.panel.totalValue()->text().isEmpty());
    EXPECT_TRUE(f.panel.footNote()->text().isEmpty());
    EXPECT_TRUE(f.panel.chip()->label()->text().isEmpty());
    EXPECT_TRUE(f.panel.bar()->fractions().isEmpty());
    EXPECT_TRUE(f.panel.spark()->values().isEmpty());
    for (TLProcRow* row : f.panel.rows())
        EXPECT_TRUE(row->name().isEmpty());

    EXPECT_EQ(f.panel.titleLabel()->text(), TLPanelTitle(TLCurrentAppInfo()));
    EXPECT_EQ(f.panel.versionLabel()->text(), TLPanelVersionText(TLCurrentAppInfo()));
    EXPECT_EQ(f.panel.activityMonitorButton()->text(), "打开活动监视器");
    EXPECT_EQ(f.panel.seg()->segmentCount(), 2);
    EXPECT_EQ(f.panel.seg()->label(0), "内存占用");
    EXPECT_EQ(f.panel.seg()->label(1), "能耗");
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 0);

    // Legend captions, in order, with their colours.
    const QList<TLLegendCaption*> captions =
        f.panel.columnItems()[3]->findChildren<TLLegendCaption*>();
    ASSERT_EQ(captions.size(), 4);
    EXPECT_EQ(captions[0]->text(), "●  App 内存");
    EXPECT_EQ(captions[0]->color(), TLColorApp());
    EXPECT_EQ(captions[1]->text(), "●  联动内存");
    EXPECT_EQ(captions[1]->color(), TLColorWired());
    EXPECT_EQ(captions[2]->text(), "●  被压缩");
    EXPECT_EQ(captions[2]->color(), TLColorCompressed());
    EXPECT_EQ(captions[3]->text(), "●  已缓存文件");
    EXPECT_EQ(captions[3]->color(), TLColorCached());

    // Captions of the usage row and of the status grid.
    QStringList texts;
    for (QLabel* label : f.panel.view()->findChildren<QLabel*>())
        texts << label->text();
    for (const char* caption : {"内存使用率", "内存压力", "交换空间", "CPU 总占用"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(caption))) << caption;
}

TEST(PanelLayout, LabelFontsAndSemanticColours) {
    FakePanel f;
    f.panel.view();
    struct Expect {
        QLabel* label;
        int pixelSize;
        TLColor color;
    };
    const Expect expected[] = {
        {f.panel.titleLabel(), 13, TLLabelColor()},
        {f.panel.bigValue(), 27, TLLabelColor()},
        {f.panel.totalValue(), 11, TLSecondaryLabelColor()},
        {f.panel.legendValues()[0], 11, TLLabelColor()},
        {f.panel.usageNow(), 11, TLLabelColor()},
        {f.panel.cpuValue(), 11, TLLabelColor()},
        {f.panel.footNote(), 9, TLTertiaryLabelColor()},
        {f.panel.versionLabel(), 9, TLTertiaryLabelColor()},
    };
    for (const Expect& e : expected) {
        EXPECT_EQ(e.label->font().pixelSize(), e.pixelSize) << e.label->text().toStdString();
        EXPECT_EQ(TLTextColor(e.label), e.color) << e.label->text().toStdString();
        EXPECT_EQ(e.label->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(f.panel.totalValue()->alignment() & Qt::AlignRight);
    EXPECT_TRUE(f.panel.cpuValue()->alignment() & Qt::AlignRight);
}

TEST(PanelLayout, TitleAndVersionFromTheAppInfo) {
    EXPECT_EQ(TLPanelTitle(TLAppInfo{}), "潮汐");
    EXPECT_EQ(TLPanelTitle(TLAppInfo{"Tide", "1", "", ""}), "Tide");
    EXPECT_EQ(TLPanelVersionText(TLAppInfo{"", "2.0", "", ""}), "v2.0");
    EXPECT_EQ(TLPanelVersionText(TLAppInfo{"", "2.0", "Ada", ""}), "Ada · v2.0");
    EXPECT_EQ(TLPanelVersionText(TLAppInfo{"", "", "Ada", ""}), "Ada · v");
}

TEST(PanelLayout, TabAndRowCountSetBeforeLoadingAreUsedByTheView) {
    FakePanel f;
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.setRowCount(5);
    EXPECT_FALSE(f.panel.isViewLoaded());
    f.panel.view();
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 1);
    EXPECT_EQ(visibleRows(f.panel), 5);
    EXPECT_TRUE(f.delegate.tabs.empty());
}

TEST(PanelLayout, ViewHeightFollowsTheRowCount) {
    FakePanel f;
    QWidget* root = f.panel.view();
    const int eight = root->height();
    std::vector<TLProc> procs(12);
    for (int i = 0; i < 12; ++i) {
        procs[i].pid = i + 1;
        // Not `= "p"`: GCC 12 at -O3 reports a false -Wrestrict inside libstdc++ for that.
        procs[i].name.assign(1, 'p');
    }
    f.panel.renderProcesses(&procs);
    EXPECT_EQ(root->height(), eight);
    EXPECT_EQ(root->sizeHint().height(), eight);
    f.panel.setRowCount(5);
    EXPECT_EQ(root->height(), eight - 3 * 22);
    f.panel.setRowCount(12);
    EXPECT_EQ(root->height(), eight + 4 * 22);
    EXPECT_EQ(root->width(), 322);
    // Also once shown, as in the popover.
    root->show();
    f.panel.setRowCount(8);
    EXPECT_EQ(root->height(), eight);
}

TEST(PanelLayout, GearAndSystemMonitorButtonsTellTheDelegate) {
    FakePanel f;
    f.panel.view();
    f.panel.activityMonitorButton()->click();
    EXPECT_EQ(f.log, (std::vector<std::string>{"close", "open system monitor"}));

    auto* gear = qobject_cast<QAbstractButton*>(f.panel.gearButton());
    ASSERT_NE(gear, nullptr);
    gear->click();
    ASSERT_EQ(f.delegate.gears.size(), 1u);
    EXPECT_EQ(f.delegate.gears[0], f.panel.gearButton());

    // Without a delegate the buttons still work (the monitor still opens).
    f.panel.setDelegate(nullptr);
    f.panel.activityMonitorButton()->click();
    gear->click();
    EXPECT_EQ(f.log.back(), "open system monitor");
    EXPECT_EQ(f.delegate.gears.size(), 1u);
}

// --- System figures -----------------------------------------------------------------------------

TEST(PanelSystem, NothingHappensBeforeTheViewIsLoaded) {
    FakePanel f;
    TLSystemStats s;
    s.total = 8 * GiB;
    f.panel.renderSystem(s, {0.5});
    EXPECT_FALSE(f.panel.isViewLoaded());
    f.panel.view();
    EXPECT_EQ(f.panel.bigValue()->text(), "--");
}

TEST(PanelSystem, ChipTextAndColourByPressureLevel) {
    const std::pair<int32_t, const char*> cases[] = {
        {1, "压力正常"}, {2, "压力警告"}, {3, "压力正常"}, {4, "压力严重"},
        {5, "压力严重"}, {0, "压力正常"}, {-1, "压力正常"}};
    FakePanel f;
    f.panel.view();
    for (const auto& [value, text] : cases) {
        const TLPressureLevel level{value};
        EXPECT_EQ(TLPressureChipText(level), QString::fromUtf8(text)) << value;
        TLSystemStats s;
        s.pressureLevel = level;
        f.panel.renderSystem(s, {});
        EXPECT_EQ(f.panel.chip()->label()->text(), QString::fromUtf8(text));
        // The texts' colour draws as the level's colour (with a variant for high contrast).
        const TLColor textColor = TLPressureTextColor(level);
        EXPECT_EQ(textColor.light, TLPressureColor(level).light);
        EXPECT_EQ(textColor.dark, TLPressureColor(level).dark);
        EXPECT_EQ(f.panel.chip()->backgroundColor(), textColor.withAlpha(0.16));
        EXPECT_EQ(f.panel.spark()->tint(), TLPressureColor(level));
        EXPECT_EQ(TLTextColor(f.panel.pressureValue()), textColor);
    }
}

TEST(PanelSystem, FiguresBarLegendAndHistory) {
    FakePanel f;
    f.panel.view();
    TLSystemStats s;
    s.total = 16 * GiB;
    s.app = 8 * GiB;
    s.wired = 2 * GiB;
    s.compressed = 512ull << 20;
    s.cached = 3 * GiB;
    s.used = s.app + s.wired + s.compressed;
    s.swapUsed = 1 * GiB;
    s.swapTotal = 4 * GiB;
    s.pressureLevel = TLPressureLevel::Warning;
    s.pressurePercent = 100;
    s.usagePercent = 62.4;
    s.cpuPercent = 7.26;
    f.panel.renderSystem(s, {0.25, 0.5, 0.75});

    EXPECT_EQ(f.panel.bigValue()->text(), "10.50 GB");
    EXPECT_EQ(f.panel.totalValue()->text(), "共 16.00 GB");
    EXPECT_EQ(f.panel.usageNow()->text(), "62%");
    EXPECT_EQ(f.panel.cpuValue()->text(), "7.3%");
    EXPECT_EQ(f.panel.pressureValue()->text(), "100%");
    EXPECT_EQ(f.panel.swapValue()->text(), "1.00 GB / 4.00 GB");

    const QList<double> fractions = f.panel.bar()->fractions();
    ASSERT_EQ(fractions.size(), 4);
    EXPECT_EQ(fractions[0], 0.5);
    EXPECT_EQ(fractions[1], 0.125);
    EXPECT_EQ(fractions[2], 1.0 / 32);
    EXPECT_EQ(fractions[3], 0.1875);
    EXPECT_EQ(f.panel.bar()->colors(),
              (QList<TLColor>{TLColorApp(), TLColorWired(), TLColorCompressed(), TLColorCached()}));
    QStringList legend;
    for (QLabel* label : f.panel.legendValues())
        legend << label->text();
    EXPECT_EQ(legend, (QStringList{"8.00 GB", "2.00 GB", "512.0 MB", "3.00 GB"}));
    EXPECT_EQ(f.panel.spark()->values(), (QList<double>{0.25, 0.5, 0.75}));

    // The swap figure is off whenever there is no swap space, whatever "used" says.
    s.swapTotal = 0;
    f.panel.renderSystem(s, {});
    EXPECT_EQ(f.panel.swapValue()->text(), "未启用");
    EXPECT_TRUE(f.panel.spark()->values().isEmpty());
}

TEST(PanelSystem, AllZeroSampleDividesByOne) {
    FakePanel f;
    f.panel.view();
    TLSystemStats s;
    s.app = 3; // bytes with no total: divided by 1, left for the bar to clip
    f.panel.renderSystem(s, {});
    EXPECT_EQ(f.panel.bar()->fractions(), (QList<double>{3, 0, 0, 0}));
    EXPECT_EQ(f.panel.bigValue()->text(), TLFormatBytes(0));
    EXPECT_EQ(f.panel.totalValue()->text(), "共 " + TLFormatBytes(0));
    EXPECT_EQ(f.panel.usageNow()->text(), "0%");
    EXPECT_EQ(f.panel.pressureValue()->text(), "0%");
    EXPECT_EQ(f.panel.cpuValue()->text(), "0.0%");
    EXPECT_EQ(f.panel.swapValue()->text(), "未启用");
    EXPECT_EQ(f.panel.chip()->label()->text(), "压力正常");
}

TEST(PanelLayout, AViewDeletedByItsWindowIsForgottenAndBuiltAgain) {
    FakePanel f;
    auto* window = new QWidget;
    f.panel.view()->setParent(window);
    delete window;
    EXPECT_FALSE(f.panel.isViewLoaded());
    EXPECT_TRUE(f.panel.rows().isEmpty());
    // Nothing reaches the deleted widgets.
    f.panel.renderSystem(TLSystemStats{}, {});
    f.panel.setRowCount(5);
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.applyRowCount();

    QWidget* again = f.panel.view();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(f.panel.columnItems().size(), 14);
    EXPECT_EQ(f.panel.rows().size(), 12);
    EXPECT_EQ(visibleRows(f.panel), 5);
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 1);
}
