#include "format/TLColor.h"
#include "format/TLFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

struct ByteCase {
    uint64_t bytes;
    const char* text;
};

constexpr uint64_t kGiB = 1073741824;

} // namespace

TEST(FormatBytes, LongFormAcrossUnitBoundaries) {
    const ByteCase cases[] = {
        {0, "0 B"},
        {1, "1 B"},
        {1023, "1023 B"},
        {1024, "1 KB"},
        {1048575, "1024 KB"}, // rounds up but stays in kilobytes: the unit is chosen on bytes
        {1048576, "1.0 MB"},
        {1073741823, "1024.0 MB"},
        {kGiB, "1.00 GB"},
        {17179869184, "16.00 GB"},
        {10 * kGiB - 1, "10.00 GB"},
    };
    for (const ByteCase& c : cases) {
        EXPECT_EQ(TLFormatBytes(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
    }
}

TEST(FormatBytes, ShortFormAcrossUnitBoundaries) {
    const ByteCase cases[] = {
        {0, "0K"},
        {1023, "1K"},
        {1024, "1K"},
        {1048575, "1024K"},
        {1048576, "1M"},
        {1073741823, "1024M"},
        {kGiB, "1.00G"},
        {9502720000, "8.85G"},
        // The switch to one decimal is made before rounding.
        {10737418239, "10.00G"},
        {10737418240, "10.0G"},
        {17179869184, "16.0G"},
    };
    for (const ByteCase& c : cases) {
        EXPECT_EQ(TLFormatBytesShort(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
    }
}

TEST(FormatBytes, RoundsLikePrintfOnExactHalves) {
    // 1.5 KB, 2.5 KB and 0.5 KB are exact in binary; printf rounds such ties to even.
    EXPECT_EQ(TLFormatBytes(1536), "2 KB");
    EXPECT_EQ(TLFormatBytes(2560), "2 KB");
    EXPECT_EQ(TLFormatBytesShort(512), "0K");
    EXPECT_EQ(TLFormatBytesShort(1536), "2K");
    // 1.25 MB: one decimal, tie to even.
    EXPECT_EQ(TLFormatBytes(1310720), "1.2 MB");
}

TEST(FormatBytes, LargestCountFormatsInFull) {
    constexpr uint64_t max = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(TLFormatBytes(max), "17179869184.00 GB");
    EXPECT_EQ(TLFormatBytesShort(max), "17179869184.0G");
}

TEST(Palette, PressureLevelsMapToTrafficLights) {
    EXPECT_EQ(TLPressureColor(TLPressureLevel::Normal), TLSystemGreen());
    EXPECT_EQ(TLPressureColor(TLPressureLevel::Warning), TLSystemYellow());
    EXPECT_EQ(TLPressureColor(TLPressureLevel::Critical), TLSystemRed());
    // Unexpected levels read as normal.
    EXPECT_EQ(TLPressureColor(TLPressureLevel{0}), TLSystemGreen());
    EXPECT_EQ(TLPressureColor(TLPressureLevel{3}), TLSystemGreen());
    EXPECT_EQ(TLPressureColor(TLPressureLevel::Critical).light, (TLRGBA{255, 59, 48, 1.0}));
    EXPECT_EQ(TLPressureColor(TLPressureLevel::Warning).dark, (TLRGBA{255, 214, 10, 1.0}));
}

TEST(Palette, CategoryColoursHaveTheirLightAndDarkValues) {
    EXPECT_EQ(TLColorApp().light, (TLRGBA{0, 122, 255, 1.0}));
    EXPECT_EQ(TLColorWired().dark, (TLRGBA{191, 90, 242, 1.0}));
    EXPECT_EQ(TLColorCompressed().light, (TLRGBA{255, 149, 0, 1.0}));
    // Resolving picks the variant of the appearance.
    EXPECT_EQ(TLColorCached().resolve(TLAppearance::Light), QColor(48, 176, 199));
    EXPECT_EQ(TLColorCached().resolve(TLAppearance::Dark), QColor(64, 200, 224));
}
