#include "app/TLTrayIcon.h"

#include "format/TLPictureIcon.h"
#include "format/TLStatusBarImage.h"
#include "widgets/TLFonts.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPixmap>

#include <cmath>
#include <vector>

namespace {

// The figure of a title: the part before the CPU suffix.
const QString kCPUSeparator = QStringLiteral(" · ");

// The largest bold font (pixel size, at most `maxPx`) whose rendering of `text` fits `width`.
QFont fittedFont(const QString& text, qreal width, int maxPx) {
    QFont font = TLFigureFont(TLSystemFont(maxPx, QFont::Bold));
    for (int px = maxPx; px >= 6; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).horizontalAdvance(text) <= width) return font;
    }
    font.setPixelSize(6);
    return font;
}

// The largest bold font whose glyphs of `text` stand at most `height` pixels tall (figures have
// no descenders, so a line of them may fill its band) and whose rendering fits `width`.
QFont fittedFontByGlyphs(const QString& text, qreal width, qreal height) {
    QFont font = TLFigureFont(TLSystemFont(6, QFont::Bold));
    for (int px = static_cast<int>(std::ceil(height * 2)); px > 6; --px) {
        font.setPixelSize(px);
        const QFontMetricsF fm(font);
        if (fm.tightBoundingRect(text).height() <= height && fm.horizontalAdvance(text) <= width)
            return font;
    }
    font.setPixelSize(6);
    return font;
}

// Text centred in a box, scaled down horizontally when even the smallest font is too wide. With
// `byGlyphs` the text's own glyphs are centred and fill the box's height; otherwise the font's
// ascent and descent are. Laid out once, drawn as often as needed.
struct FittedText {
    QString text;
    QFont font;
    QPointF origin; // the baseline's left end
    qreal xScale = 1;
    QColor ink;

    void draw(QPainter& p) const {
        p.save();
        p.setFont(font);
        p.setPen(ink);
        if (xScale != 1) {
            p.translate(origin);
            p.scale(xScale, 1);
            p.drawText(QPointF(0, 0), text);
        } else {
            p.drawText(origin, text);
        }
        p.restore();
    }
};

FittedText fitText(const QRectF& box, const QString& text, int maxPx, const QColor& ink,
                   bool byGlyphs = false) {
    FittedText out{text,
                   byGlyphs ? fittedFontByGlyphs(text, box.width(), box.height())
                            : fittedFont(text, box.width(), maxPx),
                   {},
                   1,
                   ink};
    const QFontMetricsF fm(out.font);
    const qreal w = fm.horizontalAdvance(text);
    qreal baseline = box.center().y() + (fm.ascent() - fm.descent()) / 2;
    if (byGlyphs) {
        const QRectF glyphs = fm.tightBoundingRect(text);
        baseline = box.center().y() - (glyphs.top() + glyphs.bottom()) / 2;
    }
    if (w > box.width()) {
        out.origin = QPointF(box.left(), baseline);
        out.xScale = box.width() / w;
    } else {
        out.origin = QPointF(box.center().x() - w / 2, baseline);
    }
    return out;
}

// Qt's raster engine hands every fill of more than about a hundred spans in a translucent colour
// to its global thread pool and waits for the pool, unless it already runs on one of the pool's
// threads. For pictures this small the hand-offs cost more than the painting and wake two
// threads for every fill; the gauge's outline crosses that size from about 40 pixels up. Drawn
// in bands of a few device rows, no fill reaches it and everything stays on the calling thread.
// A band's clip lies on whole device rows, so the picture is the one a single pass draws. Only
// the rows of `extent` (logical units) are painted, and a picture that small in one pass.
constexpr int kBandRows = 16;

template <class F>
void paintInBands(QImage& image, const QRectF& extent, F&& paint) {
    const qreal dpr = image.devicePixelRatio();
    const int top = std::max(0, static_cast<int>(std::floor(extent.top() * dpr)));
    const int bottom = std::min(image.height(), static_cast<int>(std::ceil(extent.bottom() * dpr)));
    const qreal width = image.width() / dpr;
    QPainter p(&image);
    if (bottom - top <= kBandRows) {
        paint(p);
        return;
    }
    for (int y = top; y < bottom; y += kBandRows) {
        p.save();
        p.setClipRect(QRectF(0, y / dpr, width, std::min(kBandRows, bottom - y) / dpr));
        paint(p);
        p.restore();
    }
}

// The 2x rendering of the standard slot decides: when its pixels do not change, no size the tray
// shows changes visibly.
quint64 keyOf(const QImage& image) {
    return qHashBits(image.constBits(), static_cast<size_t>(image.sizeInBytes()), 0x7469646521ULL);
}

} // namespace

TLTrayIconContent TLTrayIconContentFor(const TLStatusPresentation& p) {
    TLTrayIconContent c;
    c.gauge = p.showsGauge;
    c.gaugeColor = p.gaugeColor;
    c.gaugeTemplate = p.gaugeTemplate;
    c.fraction = p.gaugeFraction;
    const qsizetype sep = p.title.indexOf(kCPUSeparator);
    c.figure = sep < 0 ? p.title : p.title.left(sep);
    if (sep >= 0) c.cpu = p.title.mid(sep + kCPUSeparator.size());
    return c;
}

namespace {

// A dark rim around everything drawn: each pixel's neighbours within `radius` pixels lend it
// their coverage, and the picture goes over that rim. Light figures with a dark rim read on light
// and on dark bars alike.
QImage withRim(const QImage& picture, int radius, const QColor& rimColor) {
    const int w = picture.width(), h = picture.height();
    QImage rim(picture.size(), QImage::Format_ARGB32_Premultiplied);
    rim.setDevicePixelRatio(picture.devicePixelRatio());
    rim.fill(Qt::transparent);
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(rim.scanLine(y));
        for (int x = 0; x < w; ++x) {
            int a = 0;
            for (int dy = -radius; dy <= radius; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= h) continue;
                const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(yy));
                for (int dx = -radius; dx <= radius; ++dx) {
                    const int xx = x + dx;
                    if (xx >= 0 && xx < w) a = std::max(a, qAlpha(in[xx]));
                }
            }
            // A half-covered neighbour already gives a full rim: antialiased edges must not fade
            // it where the bar is light.
            const int alpha = std::min(255, 2 * a) * rimColor.alpha() / 255;
            const QRgb under =
                qPremultiply(qRgba(rimColor.red(), rimColor.green(), rimColor.blue(), alpha));
            // The picture over its rim (both premultiplied).
            const QRgb over = reinterpret_cast<const QRgb*>(picture.constScanLine(y))[x];
            const int keep = 255 - qAlpha(over);
            const auto mix = [keep](int top, int bottom) {
                return std::min(255, top + (bottom * keep + 127) / 255);
            };
            out[x] = qRgba(mix(qRed(over), qRed(under)), mix(qGreen(over), qGreen(under)),
                           mix(qBlue(over), qBlue(under)), mix(qAlpha(over), qAlpha(under)));
        }
    }
    return rim;
}

} // namespace

QImage TLRenderTrayIcon(const TLTrayIconContent& c, int size, qreal dpr,
                        std::optional<TLAppearance> tray) {
    if (!tray) {
        // Nothing tells the bar's colour: light figures for a dark bar, with a dark rim that
        // carries them on a light one.
        const QImage light = TLRenderTrayIcon(c, size, dpr, TLAppearance::Dark);
        return withRim(light, std::max(1, qRound(dpr)), QColor(0, 0, 0, 220));
    }
    const TLAppearance trayAppearance = *tray;
    QImage image(QSize(size, size) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    const QColor ink = TLStatusBarTemplateInk(trayAppearance);
    const qreal s = size;

    const bool hasText = !c.figure.isEmpty();
    const bool hasCPU = hasText && !c.cpu.isEmpty();
    // The gauge keeps its 24 × 11 proportions: across the full width, or smaller under two lines
    // of text so that each line keeps a readable height.
    const qreal gaugeScale = hasCPU ? s * 0.36 / TLStatusBarImageHeight : s / TLStatusBarImageWidth;
    const qreal gaugeW = TLStatusBarImageWidth * gaugeScale;
    const qreal gaugeH = TLStatusBarImageHeight * gaugeScale;
    const qreal gaugeTop = hasText ? s - gaugeH : (s - gaugeH) / 2;
    // The gauge's outline starts 1 point below its box: the text may use that point.
    const qreal textBottom = c.gauge ? gaugeTop + gaugeScale : s;

    std::vector<FittedText> lines;
    if (hasText) {
        const int maxPx = static_cast<int>(std::floor(s * (c.gauge ? 0.5 : 0.62)));
        if (hasCPU) {
            // Two lines of figures over the gauge: each line's glyphs take its whole band but
            // for a pixel between the lines.
            const qreal h = textBottom / 2;
            lines.push_back(fitText(QRectF(0, 0, s, h - 1), c.figure, maxPx, ink, true));
            QColor dim = ink;
            dim.setAlphaF(ink.alphaF() * 0.8f);
            lines.push_back(fitText(QRectF(0, h, s, h - 1), c.cpu, maxPx, dim, true));
        } else {
            lines.push_back(fitText(QRectF(0, 0, s, textBottom), c.figure, maxPx, ink));
        }
    }

    if (c.gauge) {
        const TLGaugeImage gauge = TLStatusBarImage(c.gaugeColor, c.gaugeTemplate, c.fraction);
        // The outline's antialiased edge may reach a pixel beyond the gauge's box.
        const QRectF rows(0, gaugeTop - 1, s, gaugeH + 2);
        paintInBands(image, rows, [&](QPainter& p) {
            p.setRenderHint(QPainter::Antialiasing);
            p.translate((s - gaugeW) / 2, gaugeTop);
            p.scale(gaugeScale, gaugeScale);
            gauge.draw(p, trayAppearance, ink);
        });
    }
    if (!lines.empty()) {
        // Glyphs are blended from Qt's glyph cache, never handed to the pool: one pass.
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        for (const FittedText& line : lines)
            line.draw(p);
    }
    return image;
}

TLMenuBarContent TLMenuBarContentFor(const TLStatusPresentation& p) {
    return {p.showsGauge, p.gaugeColor, p.gaugeTemplate, p.gaugeFraction, p.title};
}

quint64 TLTrayIconKey(const TLTrayIconContent& c, std::optional<TLAppearance> trayAppearance) {
    return keyOf(TLRenderTrayIcon(c, 22, 2.0, trayAppearance));
}

TLTrayIcon TLMakeTrayIcon(const TLTrayIconContent& c, std::optional<TLAppearance> trayAppearance) {
    TLTrayIcon out;
    QList<QPixmap> pictures;
    for (int size : {16, 22, 24, 32, 48, 64})
        pictures.append(QPixmap::fromImage(TLRenderTrayIcon(c, size, 1.0, trayAppearance)));
    // Any other size a tray asks for (33 px at 150 %) is drawn at that size, not scaled.
    out.icon = TLPictureIcon(std::move(pictures), [c, trayAppearance](int side) {
        return QPixmap::fromImage(TLRenderTrayIcon(c, side, 1.0, trayAppearance));
    });
    out.key = TLTrayIconKey(c, trayAppearance);
    return out;
}
