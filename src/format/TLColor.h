#pragma once
#include "os/TLPressureLevel.h"
#include <QColor>

#include <cstdint>

// The two appearances every colour of the program resolves against.
enum class TLAppearance { Light, Dark };

// One colour channel set with its alpha from 0 to 1.
struct TLRGBA {
    uint8_t r = 0, g = 0, b = 0;
    double a = 1.0;
    friend bool operator==(const TLRGBA&, const TLRGBA&) = default;
};

// Whether the desktop asked for high contrast: the colours that have a variant for it draw with
// that one (texts of at least 4.5:1 against the panel). Main thread; set before drawing.
void TLSetHighContrast(bool high);
bool TLHighContrast();

// A semantic colour: a light and a dark variant, resolved when drawn, and where it has them, the
// two variants it takes in high contrast.
struct TLColor {
    TLRGBA light;
    TLRGBA dark;
    bool hasHighContrast = false;
    TLRGBA lightHigh = {};
    TLRGBA darkHigh = {};

    const TLRGBA& variant(TLAppearance appearance) const {
        if (hasHighContrast && TLHighContrast())
            return appearance == TLAppearance::Dark ? darkHigh : lightHigh;
        return appearance == TLAppearance::Dark ? dark : light;
    }
    QColor resolve(TLAppearance appearance) const {
        const TLRGBA& c = variant(appearance);
        QColor q(c.r, c.g, c.b);
        q.setAlphaF(static_cast<float>(c.a));
        return q;
    }
    // The same colour with its alpha replaced (not multiplied) in both variants.
    TLColor withAlpha(double a) const {
        TLColor c = *this;
        c.light.a = a;
        c.dark.a = a;
        c.lightHigh.a = a;
        c.darkHigh.a = a;
        return c;
    }
    friend bool operator==(const TLColor&, const TLColor&) = default;
};

// The platform's system colours.
TLColor TLSystemBlue();
TLColor TLSystemPurple();
TLColor TLSystemOrange();
TLColor TLSystemTeal();
TLColor TLSystemGreen();
TLColor TLSystemYellow();
TLColor TLSystemRed();

// Semantic text and line colours.
TLColor TLLabelColor();
TLColor TLSecondaryLabelColor();
TLColor TLTertiaryLabelColor();
TLColor TLQuaternaryLabelColor();
TLColor TLSeparatorColor();

// The colours of the four memory categories.
TLColor TLColorApp();
TLColor TLColorWired();
TLColor TLColorCompressed();
TLColor TLColorCached();

// Traffic-light colour of a memory-pressure level: critical red, warning yellow, anything else
// green.
TLColor TLPressureColor(TLPressureLevel level);
// The same colour for a text (the pressure chip and figure): in high contrast, a darker one in
// the light appearance and a lighter red in the dark, which read at 4.5:1 on the panel and on the
// chip's tinted background.
TLColor TLPressureTextColor(TLPressureLevel level);

// The background grey of the panel (device white 0.96 light, 0.17 dark).
TLColor TLPanelBackgroundColor();

// The keyboard focus ring: opaque, at least 3:1 against the panel in both appearances.
TLColor TLFocusRingColor();

// The contrast ratio of two opaque colours, from 1 (the same) to 21 (black on white), as the web's
// accessibility guidelines define it from their relative luminance.
double TLContrastRatio(const QColor& a, const QColor& b);
