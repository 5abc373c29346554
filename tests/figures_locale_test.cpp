// Every figure the program writes, under a decimal-comma locale and at exact rounding ties: one
// formatting path, printf's rounding (ties to even), a decimal point whatever the locale.
#include "panel_fakes.h"

#include "app/TLStatusPresentation.h"
#include "format/TLFormat.h"
#include "widgets/TLProcRow.h"

#include <QLabel>
#include <QLocale>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <locale>
#include <ostream>
#include <string>

// Readable failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;

// Switches the C library, the C++ library and Qt to German (decimal comma) for one test.
// scripts/install-deps generates de_DE.UTF-8, so the locale is always there where the tests run.
class GermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        _oldQt = QLocale();
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
            << "de_DE.UTF-8 is not generated: run scripts/install-deps";
        std::locale::global(std::locale("de_DE.UTF-8"));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        // The locale really writes a comma: otherwise this test would prove nothing.
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 2.5);
        ASSERT_STREQ(probe, "2,5");
        ASSERT_EQ(QLocale().toString(2.5, 'f', 1), "2,5");
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        std::locale::global(std::locale::classic());
        QLocale::setDefault(_oldQt);
    }

private:
    QLocale _oldQt;
};

TLSystemStats sampleWithTies() {
    TLSystemStats s;
    s.total = 16 * GiB;
    s.app = 2 * GiB + 20 * MiB;   // 2.02 GB
    s.wired = 49 * MiB + MiB / 2; // 49.5 MB
    s.compressed = 512 * MiB;
    s.used = s.app + s.wired + s.compressed;
    s.pressureLevel = TLPressureLevel::Normal;
    s.pressurePercent = 0.5; // a tie: 0
    s.usagePercent = 62.5;   // a tie: 62
    s.cpuPercent = 7.25;     // 29 busy ticks of 400: 7.2 with one decimal, 7 with none
    return s;
}

std::vector<TLProc> energyProcs() {
    TLProc a;
    a.pid = 10;
    a.name = "waker";
    a.energy = 3.25; // a tie: 3.2
    TLProc b;
    b.pid = 11;
    b.name = "sleeper";
    b.energy = 0.75; // a tie: 0.8
    return {a, b};
}

void expectPanelFigures(TLPanelController& panel, bool energyTab) {
    EXPECT_EQ(panel.usageNow()->text(), "62%");
    EXPECT_EQ(panel.cpuValue()->text(), "7.2%");
    EXPECT_EQ(panel.pressureValue()->text(), "0%");
    EXPECT_EQ(panel.bigValue()->text(), "2.57 GB");
    EXPECT_EQ(panel.totalValue()->text(), "共 16.00 GB");
    if (energyTab) {
        EXPECT_EQ(panel.rows()[0]->valueLabel()->text(), "3.2");
        EXPECT_EQ(panel.rows()[1]->valueLabel()->text(), "0.8");
    }
}

} // namespace

TEST(FigureFormat, FixedAndPercentRoundTiesToEvenLikePrintf) {
    struct Case {
        double value;
        int decimals;
    };
    const Case cases[] = {{62.5, 0},  {63.5, 0}, {0.5, 0},  {1.5, 0},       {7.25, 1}, {7.35, 1},
                          {2.675, 2}, {99.6, 0}, {-0.4, 0}, {1e6 + 0.5, 0}, {0.125, 2}};
    for (const Case& c : cases) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.*f", c.decimals, c.value);
        EXPECT_EQ(TLFormatFixed(c.value, c.decimals), QString::fromLatin1(expected))
            << c.value << " with " << c.decimals;
    }
    EXPECT_EQ(TLFormatPercent(62.5), "62%");
    EXPECT_EQ(TLFormatPercent(7.25, 1), "7.2%");
    // The bounded writer cuts, and says how much it wrote.
    char small[4];
    EXPECT_EQ(TLFormatFixedTo(small, sizeof small, 12345.0, 0), 3u);
    EXPECT_STREQ(small, "123");
}

TEST(FigureFormat, StatusItemAndPanelAgreeOnTies) {
    const TLSystemStats s = sampleWithTies();
    const TLStatusPresentation p = TLComputeStatusPresentation(s, TLStatusBarMode::GaugeAndPercent,
                                                               TLPercentMetric::Usage, false, true);
    EXPECT_EQ(p.title, "62% · 7%");
    EXPECT_TRUE(p.toolTip.contains("内存压力 0%")) << p.toolTip.toStdString();

    FakePanel f;
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.view();
    f.panel.renderSystem(s, {0.625});
    const std::vector<TLProc> procs = energyProcs();
    f.panel.renderProcesses(&procs);
    expectPanelFigures(f.panel, true);
}

TEST_F(GermanLocale, EveryFigureKeepsADecimalPoint) {
    EXPECT_EQ(TLFormatBytes(2 * GiB + 20 * MiB), "2.02 GB");
    EXPECT_EQ(TLFormatBytes(49 * MiB + MiB / 2), "49.5 MB");
    EXPECT_EQ(TLFormatBytesShort(9502720000), "8.85G");
    EXPECT_EQ(TLFormatBytesShort(10 * GiB + GiB / 2), "10.5G");
    EXPECT_EQ(TLFormatPercent(24.66, 1), "24.7%");
    EXPECT_EQ(TLFormatFixed(1234567.25, 1), "1234567.2"); // no thousands separator either

    const TLSystemStats s = sampleWithTies();
    const TLStatusPresentation shortUsed = TLComputeStatusPresentation(
        s, TLStatusBarMode::UsedOnly, TLPercentMetric::Usage, false, true);
    EXPECT_EQ(shortUsed.title, "2.57G · 7%");
    EXPECT_EQ(
        shortUsed.toolTip,
        "已使用 2.57 GB / 16.00 GB   内存压力 0%\nApp 2.02 GB · 联动 49.5 MB · 压缩 512.0 MB");

    FakePanel f;
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.view();
    f.panel.renderSystem(s, {0.625});
    const std::vector<TLProc> procs = energyProcs();
    f.panel.renderProcesses(&procs);
    expectPanelFigures(f.panel, true);
    ASSERT_GE(f.panel.legendValues().size(), 2);
    EXPECT_EQ(f.panel.legendValues()[1]->text(), "49.5 MB");
}
