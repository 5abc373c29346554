#include "widgets/TLFonts.h"

#include <algorithm>
#include <cmath>

QStringList TLFontFamilies() {
    return {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
            QStringLiteral("DejaVu Sans")};
}

int TLFontPixelSize(qreal points) {
    if (!(points >= 1)) return 1;
    // A hair of tolerance so that 11.999999 (from arithmetic) still counts as 12.
    return static_cast<int>(std::floor(std::min<qreal>(points, 1000) + 1e-6));
}

QFont TLSystemFont(qreal points, QFont::Weight weight) {
    QFont font;
    font.setFamilies(TLFontFamilies());
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(TLFontPixelSize(points));
    font.setWeight(weight);
    return font;
}

QFont TLMonospacedDigitSystemFont(qreal points, QFont::Weight weight) {
    return TLFigureFont(TLSystemFont(points, weight));
}

QFont TLFigureFont(QFont font) {
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    return font;
}
