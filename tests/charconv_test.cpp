// The stand-ins for floating-point from_chars and to_chars that the macOS build uses, checked
// against the standard library's own versions on this platform: same value, same end position,
// same error, same text.

#include "sampling/TLCharconv.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

void expectSameParse(const std::string& text) {
    SCOPED_TRACE("input: \"" + text + "\"");
    double expected = -12345.0, actual = -12345.0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto want = std::from_chars(first, last, expected, std::chars_format::general);
    const auto got = TLFromCharsPortable(first, last, actual);
    EXPECT_EQ(got.ec, want.ec);
    EXPECT_EQ(got.ptr - first, want.ptr - first);
    if (want.ec == std::errc()) {
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(actual));
        } else {
            EXPECT_EQ(std::bit_cast<uint64_t>(actual), std::bit_cast<uint64_t>(expected));
        }
    }
}

std::string standardText(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string portableText(double v) {
    char buf[64];
    const auto r = TLToCharsPortable(buf, buf + sizeof buf, v);
    EXPECT_EQ(r.ec, std::errc());
    return std::string(buf, r.ptr);
}

} // namespace

TEST(Charconv, ParsesLikeTheStandardLibrary) {
    const std::vector<std::string> cases = {"0",
                                            "-0",
                                            "1",
                                            "3.5",
                                            "12.7 Web Content",
                                            "105.3",
                                            "0.0",
                                            ".5",
                                            "5.",
                                            ".",
                                            "-",
                                            "-.",
                                            "",
                                            " 1",
                                            "+1",
                                            "1e3",
                                            "1E-3",
                                            "1e",
                                            "1e+",
                                            "1e-x",
                                            "2.5e+2x",
                                            "1.7976931348623157e308",
                                            "1.8e308",
                                            "-1e400",
                                            "1e-400",
                                            "4.9e-324",
                                            "2.2250738585072014e-308",
                                            "1e-310",
                                            "0.1000000000000000055511151231257827",
                                            "123456789012345678901234567890",
                                            "inf",
                                            "-INF",
                                            "Infinity",
                                            "infinit",
                                            "nan",
                                            "NaN(abc_1)",
                                            "nan(",
                                            "in",
                                            "n",
                                            "0x1p3",
                                            "1,5",
                                            "1..2",
                                            std::string(200, '0') + "1",
                                            "0." + std::string(300, '0') + "1e300",
                                            "00012.5000",
                                            "9007199254740993",
                                            "1e-5",
                                            "2.50",
                                            "-3.75 x"};
    for (const std::string& c : cases)
        expectSameParse(c);
}

TEST(Charconv, ParsesRandomTextsLikeTheStandardLibrary) {
    std::mt19937_64 rng(20261207);
    const char alphabet[] = "0123456789.-+eE ";
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        const int len = static_cast<int>(rng() % 12);
        for (int k = 0; k < len; ++k)
            s += alphabet[rng() % (sizeof alphabet - 1)];
        expectSameParse(s);
    }
    // Every double printed both ways reads back identically.
    for (int i = 0; i < 5000; ++i) {
        const double v = std::bit_cast<double>(rng());
        if (!std::isfinite(v)) continue;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        expectSameParse(buf);
    }
}

TEST(Charconv, WritesTheShortestTextLikeTheStandardLibrary) {
    const std::vector<double> cases = {0.0,
                                       -0.0,
                                       1.0,
                                       -1.0,
                                       0.5,
                                       55.31,
                                       19.07,
                                       12.4,
                                       100.0,
                                       99.6,
                                       1e-5,
                                       0.0001,
                                       123456789.0,
                                       1e16,
                                       1e21,
                                       1e22,
                                       1e23,
                                       1234567.0,
                                       0.1,
                                       1.0 / 3.0,
                                       2.0 / 3.0 * 100.0,
                                       1e100,
                                       5e-324,
                                       std::numeric_limits<double>::max(),
                                       std::numeric_limits<double>::min(),
                                       1e-7,
                                       9.5e-5,
                                       12345678901234567890.0,
                                       0.000123,
                                       4.35,
                                       28.5,
                                       25.0,
                                       1000000.0,
                                       10000000.0};
    for (double v : cases)
        EXPECT_EQ(portableText(v), standardText(v)) << v;
    EXPECT_EQ(portableText(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(portableText(-std::numeric_limits<double>::infinity()), "-inf");

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> percent(0.0, 100.0);
    for (int i = 0; i < 20000; ++i) {
        const double v = i % 2 ? percent(rng) : std::bit_cast<double>(rng());
        if (!std::isfinite(v)) continue;
        ASSERT_EQ(portableText(v), standardText(v));
    }
}

TEST(Charconv, ReportsABufferTooSmall) {
    char buf[3];
    const auto r = TLToCharsPortable(buf, buf + sizeof buf, 55.31);
    EXPECT_EQ(r.ec, std::errc::value_too_large);
    EXPECT_EQ(r.ptr, buf + sizeof buf);
}
