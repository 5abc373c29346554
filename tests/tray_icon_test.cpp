#include "app/TLTrayIcon.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QThreadPool>

#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <unistd.h>

namespace {

TLStatusPresentation presentation(int64_t mode, bool cpu, bool mono = false) {
    TLSystemStats s;
    s.total = 17179869184ULL;
    s.used = 9502720000ULL;
    s.usagePercent = 55.31;
    s.pressurePercent = 19.07;
    s.cpuPercent = 12.4;
    s.pressureLevel = TLPressureLevel::Normal;
    return TLComputeStatusPresentation(s, TLStatusBarMode{mode}, TLPercentMetric::Usage, mono, cpu);
}

// Share of pixels that are not transparent.
double coverage(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return double(n) / (image.width() * image.height());
}

// Rows that hold any ink.
std::pair<int, int> inkedRows(const QImage& image) {
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 40) {
                if (first < 0) first = y;
                last = y;
                break;
            }
    return {first, last};
}

// Voluntary context switches of every thread but the calling one: a thread that was handed work
// shows up as a new entry or a higher count.
std::map<std::string, long> otherThreadsWakeups() {
    std::map<std::string, long> out;
    const std::string self = std::to_string(gettid());
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return out;
    while (const dirent* e = readdir(dir)) {
        const std::string tid = e->d_name;
        if (tid == "." || tid == ".." || tid == self) continue;
        std::ifstream status("/proc/self/task/" + tid + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                out[tid] = std::stol(line.substr(24));
    }
    closedir(dir);
    return out;
}

// The same once every other thread has gone to sleep: a pool thread that has just finished a
// job still has to block, which counts as one more switch.
std::map<std::string, long> settledOtherThreadsWakeups() {
    QThreadPool::globalInstance()->waitForDone();
    std::map<std::string, long> last = otherThreadsWakeups();
    for (int i = 0; i < 100; ++i) {
        usleep(20000);
        std::map<std::string, long> now = otherThreadsWakeups();
        if (now == last) break;
        last = std::move(now);
    }
    return last;
}

bool otherThreadsWoke(const std::map<std::string, long>& before) {
    for (const auto& [tid, count] : otherThreadsWakeups()) {
        const auto it = before.find(tid);
        if (it == before.end() || it->second != count) return true;
    }
    return false;
}

} // namespace

TEST(TrayIcon, ContentSplitsTheFigureFromTheCPULoad) {
    TLTrayIconContent c = TLTrayIconContentFor(presentation(2, true));
    EXPECT_FALSE(c.gauge);
    EXPECT_EQ(c.figure, "8.85G");
    EXPECT_EQ(c.cpu, "12%");
    c = TLTrayIconContentFor(presentation(3, true));
    EXPECT_TRUE(c.gauge);
    EXPECT_TRUE(c.figure.isEmpty());
    EXPECT_TRUE(c.cpu.isEmpty());
}

// Every mode draws inside the square, with its parts where the layout puts them; dumps the
// pictures when TIDE_DUMP_DIR is set, for looking at them.
TEST(TrayIcon, EveryModeFillsTheSquareLegibly) {
    const QString dump = qEnvironmentVariable("TIDE_DUMP_DIR");
    for (int64_t mode : {0, 1, 2, 3}) {
        for (bool cpu : {false, true}) {
            for (TLAppearance tray : {TLAppearance::Dark, TLAppearance::Light}) {
                const TLTrayIconContent c = TLTrayIconContentFor(presentation(mode, cpu));
                for (qreal dpr : {1.0, 2.0}) {
                    const QImage image = TLRenderTrayIcon(c, 22, dpr, tray);
                    ASSERT_EQ(image.width(), qRound(22 * dpr));
                    const double cov = coverage(image);
                    EXPECT_GT(cov, 0.08) << mode << cpu;
                    EXPECT_LT(cov, 0.9) << mode << cpu;
                    const auto [first, last] = inkedRows(image);
                    if (mode == 3) { // the gauge alone sits in the middle
                        EXPECT_NEAR((first + last) / 2.0, image.height() / 2.0, 2 * dpr);
                    } else if (mode == 0 || cpu) { // a figure on top of a second part
                        EXPECT_LE(first, 3 * dpr) << mode << cpu;
                        EXPECT_GE(last, 19 * dpr) << mode << cpu;
                    }
                    if (!dump.isEmpty())
                        image.save(QDir(dump).filePath(
                            QStringLiteral("tray-m%1-cpu%2-%3@%4x.png")
                                .arg(mode)
                                .arg(cpu)
                                .arg(tray == TLAppearance::Dark ? "dark" : "light")
                                .arg(dpr)));
                }
            }
        }
    }
}

// The macOS picture: gauge and title side by side; as wide as both need; a mask when monochrome.
TEST(TrayIcon, MenuBarPictureLaysGaugeAndTitleSideBySide) {
    const auto menuBar = [](const TLStatusPresentation& p) {
        return TLMakeMenuBarIcon(TLMenuBarContentFor(p), TLAppearance::Light);
    };
    const TLTrayIcon both = menuBar(presentation(0, true));
    const TLTrayIcon gauge = menuBar(presentation(3, true));
    const TLTrayIcon text = menuBar(presentation(1, false));
    const QSize wBoth = both.icon.availableSizes().first();
    EXPECT_EQ(gauge.icon.availableSizes().first(), QSize(24, 22));
    EXPECT_GT(wBoth.width(), 24 + 4 + text.icon.availableSizes().first().width());
    EXPECT_TRUE(menuBar(presentation(0, false, true)).icon.isMask());
    EXPECT_FALSE(both.icon.isMask());
    EXPECT_NE(both.key, gauge.key);
}

TEST(TrayIcon, KeyFollowsThePixels) {
    TLSystemStats s;
    s.total = 100;
    s.used = 55;
    s.usagePercent = 55.31;
    s.pressureLevel = TLPressureLevel::Normal;
    auto key = [&](double usage, int level, bool mono) {
        s.usagePercent = usage;
        s.pressureLevel = TLPressureLevel{level};
        return TLTrayIconKey(
            TLTrayIconContentFor(TLComputeStatusPresentation(s, TLStatusBarMode::GaugeOnly,
                                                             TLPercentMetric::Usage, mono, false)),
            TLAppearance::Dark);
    };
    // A change far below one pixel of the gauge does not make a new icon...
    EXPECT_EQ(key(55.31, 1, false), key(55.312, 1, false));
    // ...a visible one does, and so do the colour and the look.
    EXPECT_NE(key(55.31, 1, false), key(60.0, 1, false));
    EXPECT_NE(key(55.31, 1, false), key(55.31, 4, false));
    EXPECT_NE(key(55.31, 1, false), key(55.31, 1, true));
    EXPECT_EQ(key(55.31, 4, true), key(55.31, 1, true)); // the template look ignores the level
}

namespace {

double luminance(QRgb c) {
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Pixels of the icon, laid on a bar of colour `bar`, that stand out from the bar by 3:1 or more.
int legiblePixels(const QImage& icon, QColor bar) {
    QImage onBar(icon.size(), QImage::Format_RGB32);
    onBar.fill(bar);
    {
        QPainter p(&onBar);
        p.drawImage(QPoint(0, 0), icon);
    }
    int n = 0;
    for (int y = 0; y < onBar.height(); ++y)
        for (int x = 0; x < onBar.width(); ++x)
            n += contrast(onBar.pixel(x, y), bar.rgb()) >= 3.0;
    return n;
}

// Height in pixels of the first line of glyphs from the top: the first run of inked rows.
int firstLineHeight(const QImage& image) {
    int height = 0;
    for (int y = 0; y < image.height(); ++y) {
        bool inked = false;
        for (int x = 0; x < image.width() && !inked; ++x)
            inked = qAlpha(image.pixel(x, y)) > 128;
        if (inked)
            ++height;
        else if (height > 0)
            break;
    }
    return height;
}

} // namespace

// Where nothing tells the bar's colour (a StatusNotifierItem host with no declared scheme), the
// figure and the monochrome gauge read on light and dark bars alike: about as many pixels stand
// out by 3:1 as in the picture drawn for that bar (the rim darkens some antialiased edge pixels),
// where the picture drawn for the other bar loses most of them.
TEST(TrayIcon, ReadsOnLightAndDarkBarsWhenNothingTellsTheirColour) {
    const QColor lightBars[] = {QColor(246, 246, 246), QColor(220, 220, 220)};
    const QColor darkBars[] = {QColor(40, 40, 40), QColor(0, 0, 0)};
    for (auto [mode, cpu] : {std::pair{1, false}, std::pair{0, true}, std::pair{2, false}}) {
        const TLTrayIconContent c = TLTrayIconContentFor(presentation(mode, cpu, true));
        for (int size : {22, 24}) {
            const QImage neutral = TLRenderTrayIcon(c, size, 1.0, std::nullopt);
            const QImage forLight = TLRenderTrayIcon(c, size, 1.0, TLAppearance::Light);
            const QImage forDark = TLRenderTrayIcon(c, size, 1.0, TLAppearance::Dark);
            for (const QColor& bar : lightBars) {
                const int reference = legiblePixels(forLight, bar);
                ASSERT_GT(reference, 20);
                EXPECT_GE(legiblePixels(neutral, bar), 0.65 * reference) << mode << cpu << size;
                // The failure this prevents: light figures on a light bar.
                EXPECT_LT(legiblePixels(forDark, bar), 0.3 * reference) << mode << cpu << size;
            }
            for (const QColor& bar : darkBars) {
                const int reference = legiblePixels(forDark, bar);
                ASSERT_GT(reference, 20);
                EXPECT_GE(legiblePixels(neutral, bar), 0.65 * reference) << mode << cpu << size;
                EXPECT_LT(legiblePixels(forLight, bar), 0.3 * reference) << mode << cpu << size;
            }
        }
    }
}

// With the CPU line on, the memory figure above it and the gauge share the square: the figure's
// glyphs keep a readable height at 22 and 24 pixels (recorded as test properties).
TEST(TrayIcon, FigureGlyphsStayTallWithTheCPULine) {
    const TLTrayIconContent c = TLTrayIconContentFor(presentation(0, true));
    ASSERT_EQ(c.figure, "55%");
    const int at22 = firstLineHeight(TLRenderTrayIcon(c, 22, 1.0, TLAppearance::Dark));
    const int at24 = firstLineHeight(TLRenderTrayIcon(c, 24, 1.0, TLAppearance::Dark));
    testing::Test::RecordProperty("glyph_height_22", at22);
    testing::Test::RecordProperty("glyph_height_24", at24);
    std::printf("figure glyph height with the CPU line: %d px at 22, %d px at 24\n", at22, at24);
    EXPECT_GE(at22, 6);
    EXPECT_GE(at24, 7);
    // Still two lines and a gauge: the figure takes less than half the square.
    EXPECT_LE(at22, 11);
}

// The menu bar gauge sits on whole pixels at 1x and 2x: every row of its outline is fully inked,
// none smeared over two rows at half strength, and it stays centred to within half a point.
TEST(TrayIcon, MenuBarGaugeLinesAreSharpAtOneAndTwoTimes) {
    TLMenuBarContent p = TLMenuBarContentFor(presentation(3, false, true)); // template, no title
    p.fraction = 0;                                                         // only the outline
    for (qreal dpr : {1.0, 2.0}) {
        SCOPED_TRACE(dpr);
        const QImage image = TLRenderMenuBarIcon(p, TLAppearance::Light, dpr);
        ASSERT_EQ(image.height(), qRound(22 * dpr));
        const int x = qRound(12 * dpr); // the middle of the straight top and bottom lines
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            const int a = qAlpha(image.pixel(x, y));
            if (a == 0) continue;
            EXPECT_GE(a, 250) << "row " << y << " is a partial line";
            rows.push_back(y);
        }
        // Two lines, each 1 point thick.
        ASSERT_EQ(rows.size(), static_cast<size_t>(2 * dpr));
        // The outline spans 9 points; centred in 22 it would start at 6.5: here within half.
        const qreal top = rows.front() / dpr;
        EXPECT_LE(std::abs(top - 6.5), 0.5);
        EXPECT_EQ(rows.back() + 1 - rows.front(), qRound(9 * dpr));
    }
    EXPECT_EQ(TLMenuBarGaugeTop(1.0), 5.0);
    EXPECT_EQ(TLMenuBarGaugeTop(2.0), 5.5);
}

// Every size of the icon is painted on the calling thread: Qt's raster engine would hand larger
// fills to its thread pool, which costs two thread wakeups a fill on every tick that changes
// the icon. A large translucent stroke painted directly must reach the pool, or the check could
// not fail.
TEST(TrayIcon, IsPaintedWithoutWakingOtherThreads) {
    QImage big(200, 200, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    {
        const auto before = settledOtherThreadsWakeups();
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(10.5, 10.5, 170, 170), 20, 20);
        p.strokePath(outline, QPen(QColor(0, 0, 0, 128), 3)); // blended, not a plain fill
        p.end();
        ASSERT_TRUE(otherThreadsWoke(before)) << "a large stroke did not reach the pool";
    }
    for (const std::optional<TLAppearance> tray :
         {std::optional(TLAppearance::Light), std::optional(TLAppearance::Dark),
          std::optional<TLAppearance>()}) {
        for (int64_t mode : {0, 1, 3}) {
            const TLTrayIconContent c = TLTrayIconContentFor(presentation(mode, true));
            const auto before = settledOtherThreadsWakeups();
            const TLTrayIcon icon = TLMakeTrayIcon(c, tray);
            EXPECT_FALSE(otherThreadsWoke(before)) << "mode " << mode;
            EXPECT_FALSE(icon.icon.isNull());
        }
    }
}

// Trays ask for the picture at every change: an XEmbed tray paints it into its slot, and the
// StatusNotifierItem sends it at each of its sizes. The icon hands out what an icon Qt makes of
// the same pictures would, and once it is replaced nothing keeps its pictures alive (Qt's own
// icon leaves each picture it hands out in the application's pixmap cache).
TEST(TrayIcon, HandsOutQtsPicturesAndKeepsNoneOnceReplaced) {
    const TLTrayIconContent c = TLTrayIconContentFor(presentation(0, true));
    TLTrayIcon made = TLMakeTrayIcon(c, TLAppearance::Dark);
    QIcon qts;
    for (int size : {16, 22, 24, 32, 48, 64})
        qts.addPixmap(QPixmap::fromImage(TLRenderTrayIcon(c, size, 1.0, TLAppearance::Dark)));
    EXPECT_EQ(made.icon.availableSizes(), qts.availableSizes());
    const auto image = [](const QIcon& icon, int size) {
        return icon.pixmap(QSize(size, size), 1.0)
            .toImage()
            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    for (int size : {16, 22, 24, 32, 48, 64}) {
        EXPECT_EQ(made.icon.actualSize(QSize(size, size)), qts.actualSize(QSize(size, size)));
        EXPECT_EQ(image(made.icon, size), image(qts, size)) << size;
    }
    // Any other size, a fractional scale's (33 at 150 %) among them, is drawn at that size
    // rather than scaled from a neighbour; a slot that is not square gets its inner square.
    for (int size : {12, 27, 30, 33, 36, 44, 96}) {
        const QImage drawn = TLRenderTrayIcon(c, size, 1.0, TLAppearance::Dark)
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(made.icon.actualSize(QSize(size, size)), QSize(size, size));
        EXPECT_EQ(image(made.icon, size), drawn) << size;
        EXPECT_NE(image(made.icon, size), image(qts, size)) << size;
    }
    EXPECT_EQ(made.icon.pixmap(QSize(40, 33), 1.0).size(), QSize(33, 33));
    QImage slot(24, 24, QImage::Format_ARGB32_Premultiplied);
    slot.fill(Qt::transparent);
    {
        QPainter p(&slot);
        made.icon.paint(&p, slot.rect());
    }
    EXPECT_EQ(slot, image(qts, 24));

    const QPixmap exact = made.icon.pixmap(QSize(24, 24), 1.0);
    const QPixmap scaled = made.icon.pixmap(QSize(44, 44), 1.0);
    made = TLTrayIcon{};
    EXPECT_TRUE(exact.isDetached());
    EXPECT_TRUE(scaled.isDetached());
}
