#include "format/TLColor.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr TLColor make(TLRGBA light, TLRGBA dark) {
    return TLColor{light, dark};
}
constexpr TLColor make(TLRGBA light, TLRGBA dark, TLRGBA lightHigh, TLRGBA darkHigh) {
    return TLColor{light, dark, true, lightHigh, darkHigh};
}
bool highContrast = false;
} // namespace

void TLSetHighContrast(bool high) {
    highContrast = high;
}
bool TLHighContrast() {
    return highContrast;
}

TLColor TLSystemBlue() {
    return make({0, 122, 255, 1}, {10, 132, 255, 1});
}
TLColor TLSystemPurple() {
    return make({175, 82, 222, 1}, {191, 90, 242, 1});
}
TLColor TLSystemOrange() {
    return make({255, 149, 0, 1}, {255, 159, 10, 1});
}
TLColor TLSystemTeal() {
    return make({48, 176, 199, 1}, {64, 200, 224, 1});
}
TLColor TLSystemGreen() {
    return make({40, 205, 65, 1}, {50, 215, 75, 1});
}
TLColor TLSystemYellow() {
    return make({255, 204, 0, 1}, {255, 214, 10, 1});
}
TLColor TLSystemRed() {
    return make({255, 59, 48, 1}, {255, 69, 58, 1});
}

TLColor TLLabelColor() {
    return make({0, 0, 0, 0.85}, {255, 255, 255, 0.85});
}
TLColor TLSecondaryLabelColor() {
    return make({0, 0, 0, 0.50}, {255, 255, 255, 0.55}, {0, 0, 0, 0.68}, {255, 255, 255, 0.72});
}
TLColor TLTertiaryLabelColor() {
    return make({0, 0, 0, 0.26}, {255, 255, 255, 0.25}, {0, 0, 0, 0.60}, {255, 255, 255, 0.60});
}
TLColor TLQuaternaryLabelColor() {
    return make({0, 0, 0, 0.10}, {255, 255, 255, 0.10});
}
TLColor TLSeparatorColor() {
    return make({0, 0, 0, 0.10}, {255, 255, 255, 0.10});
}

TLColor TLColorApp() {
    return TLSystemBlue();
}
TLColor TLColorWired() {
    return TLSystemPurple();
}
TLColor TLColorCompressed() {
    return TLSystemOrange();
}
TLColor TLColorCached() {
    return TLSystemTeal();
}

TLColor TLPressureColor(TLPressureLevel level) {
    if (level == TLPressureLevel::Critical) return TLSystemRed();
    if (level == TLPressureLevel::Warning) return TLSystemYellow();
    return TLSystemGreen();
}

TLColor TLPressureTextColor(TLPressureLevel level) {
    const TLColor base = TLPressureColor(level);
    if (level == TLPressureLevel::Critical)
        return make(base.light, base.dark, {170, 15, 15, 1}, {255, 135, 125, 1});
    if (level == TLPressureLevel::Warning)
        return make(base.light, base.dark, {120, 75, 0, 1}, base.dark);
    return make(base.light, base.dark, {0, 100, 30, 1}, base.dark);
}

TLColor TLFocusRingColor() {
    return TLSystemBlue();
}

double TLContrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TLColor TLPanelBackgroundColor() {
    // Device white 0.96 and 0.17.
    return make({245, 245, 245, 1}, {43, 43, 43, 1});
}
