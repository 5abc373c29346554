#pragma once
#include <QFont>
#include <QStringList>

// The fonts of the program's interface.
//
// Families are named explicitly, in order of preference: a sans-serif face with Simplified Chinese
// glyphs, then common fallbacks. Naming them keeps Chinese text from falling back to the Japanese
// variant of a CJK face, whose glyph shapes differ.
//
// Sizes are given in points of the panel's layout, where one point is one device-independent
// pixel (as on macOS). Qt renders whole pixel sizes only, so a fractional size is rounded down:
// 11.5 → 11, 9.5 → 9. Rounding down keeps the longest texts (the footnote, the legend) within the
// widths the layout was designed for; and the Latin letters of Noto Sans CJK are larger for their
// size than those of the macOS system font, so at the rounded-down size their cap and x-heights
// match that font's at the full size.
//
// Weights: Medium and DemiBold ("semibold") are asked for as such; a face installed without them
// gives its nearest weight (Noto Sans CJK from fonts-noto-cjk has Regular and Bold only).

// The families, most preferred first.
QStringList TLFontFamilies();

// The whole pixel size used for a size in points (see above).
int TLFontPixelSize(qreal points);

// The system font at a size and weight.
QFont TLSystemFont(qreal points, QFont::Weight weight = QFont::Normal);

// The system font at a size and weight whose digits all have the same advance, so that figures do
// not jitter as they change. The faces above draw their default digits at one width (Noto Sans CJK,
// WenQuanYi Micro Hei and DejaVu Sans all do; the tests check '0' to '9'), so this is the same
// face; it is kept as its own function so that a face with proportional default digits could be
// given tabular figures here.
QFont TLMonospacedDigitSystemFont(qreal points, QFont::Weight weight = QFont::Normal);

// `font` for texts laid out again on every refresh (figures, the gauge's percentage): set without
// OpenType shaping wherever the script does not need it. Figures, units and Han characters are
// drawn the same with the font's own glyphs and advances (and its kerning table), and a shaped
// layout was the largest cost of a refresh; scripts that need shaping are still shaped.
QFont TLFigureFont(QFont font);
