#include "app/TLTrayIcon.h"

#include "format/TLStatusBarImage.h"
#include "widgets/TLFonts.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace {

// The figure of a title: the part before the CPU suffix.
const QString kCPUSeparator = QStringLiteral(" · ");

// The largest bold font (pixel size, at most `maxPx`) whose rendering of `text` fits `width`.
QFont fittedFont(const QString& text, qreal width, int maxPx) {
    QFont font = TLSystemFont(maxPx, QFont::Bold);
    for (int px = maxPx; px >= 6; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).horizontalAdvance(text) <= width) return font;
    }
    font.setPixelSize(6);
    return font;
}

// Draws text centred in a box, scaled down horizontally when even the smallest font is too wide.
void drawFitted(QPainter& p, const QRectF& box, const QString& text, int maxPx, const QColor& ink) {
    const QFont font = fittedFont(text, box.width(), maxPx);
    const QFontMetricsF fm(font);
    const qreal w = fm.horizontalAdvance(text);
    p.save();
    p.setFont(font);
    p.setPen(ink);
    const qreal baseline = box.center().y() + (fm.ascent() - fm.descent()) / 2;
    if (w > box.width()) {
        p.translate(box.left(), baseline);
        p.scale(box.width() / w, 1);
        p.drawText(QPointF(0, 0), text);
    } else {
        p.drawText(QPointF(box.center().x() - w / 2, baseline), text);
    }
    p.restore();
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

QImage TLRenderTrayIcon(const TLTrayIconContent& c, int size, qreal dpr,
                        TLAppearance trayAppearance) {
    QImage image(QSize(size, size) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QColor ink = TLStatusBarTemplateInk(trayAppearance);
    const qreal s = size;

    const bool hasText = !c.figure.isEmpty();
    const bool hasCPU = hasText && !c.cpu.isEmpty();
    // The gauge keeps its 24 × 11 proportions: across the full width, or smaller under two lines
    // of text so that each line keeps a readable height.
    const qreal gaugeScale = hasCPU ? s * 0.36 / TLStatusBarImageHeight : s / TLStatusBarImageWidth;
    const qreal gaugeW = TLStatusBarImageWidth * gaugeScale;
    const qreal gaugeH = TLStatusBarImageHeight * gaugeScale;

    qreal textBottom = s;
    if (c.gauge) {
        const qreal top = hasText ? s - gaugeH : (s - gaugeH) / 2;
        p.save();
        p.translate((s - gaugeW) / 2, top);
        p.scale(gaugeScale, gaugeScale);
        TLStatusBarImage(c.gaugeColor, c.gaugeTemplate, c.fraction).draw(p, trayAppearance, ink);
        p.restore();
        // The gauge's outline starts 1 point below its box: the text may use that point.
        textBottom = top + gaugeScale;
    }
    if (hasText) {
        const int maxPx = static_cast<int>(std::floor(s * (c.gauge ? 0.5 : 0.62)));
        if (hasCPU) {
            const qreal h = textBottom / 2;
            drawFitted(p, QRectF(0, 0, s, h), c.figure, std::min(maxPx, static_cast<int>(h + 1)),
                       ink);
            QColor dim = ink;
            dim.setAlphaF(ink.alphaF() * 0.8f);
            drawFitted(p, QRectF(0, h, s, h), c.cpu, std::min(maxPx, static_cast<int>(h + 1)), dim);
        } else {
            drawFitted(p, QRectF(0, 0, s, textBottom), c.figure, maxPx, ink);
        }
    }
    return image;
}

QImage TLRenderMenuBarIcon(const TLStatusPresentation& p, TLAppearance bar, qreal dpr) {
    const QFont font = TLMonospacedDigitSystemFont(11, QFont::Medium);
    const QFontMetricsF fm(font);
    const qreal gap = p.showsGauge && !p.title.isEmpty() ? 4 : 0;
    const qreal gaugeW = p.showsGauge ? TLStatusBarImageWidth : 0;
    const qreal textW = p.title.isEmpty() ? 0 : std::ceil(fm.horizontalAdvance(p.title));
    const qreal h = TLMenuBarHeight;
    const QSizeF size(std::max<qreal>(1, gaugeW + gap + textW), h);
    const QColor ink = TLStatusBarTemplateInk(bar);
    QImage image((size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (p.showsGauge) {
        painter.save();
        painter.translate(0, TLMenuBarGaugeTop(dpr));
        TLStatusBarImage(p.gaugeColor, p.gaugeTemplate, p.gaugeFraction)
            .draw(painter, bar, p.gaugeTemplate ? QColor(Qt::black) : ink);
        painter.restore();
    }
    if (!p.title.isEmpty()) {
        painter.setFont(font);
        painter.setPen(p.gaugeTemplate ? QColor(Qt::black) : ink);
        painter.drawText(QPointF(gaugeW + gap, (h + fm.ascent() - fm.descent()) / 2), p.title);
    }
    return image;
}

qreal TLMenuBarGaugeTop(qreal dpr) {
    // Centred in the bar, then moved up onto the pixel grid: the gauge's lines are 1 point wide
    // and lie on whole points, so on whole pixels they stay sharp instead of smearing over two
    // rows at half strength (5.5 points is 5 pixel rows and a half at 1x, 11 whole rows at 2x).
    const qreal centred = (TLMenuBarHeight - TLStatusBarImageHeight) / 2;
    if (!(dpr > 0)) return centred;
    return std::floor(centred * dpr + 1e-9) / dpr;
}

TLTrayIcon TLMakeMenuBarIcon(const TLStatusPresentation& p, TLAppearance bar) {
    TLTrayIcon out;
    for (qreal dpr : {1.0, 2.0}) {
        const QImage image = TLRenderMenuBarIcon(p, bar, dpr);
        out.icon.addPixmap(QPixmap::fromImage(image));
        if (dpr == 2.0)
            out.key = qHashBits(image.constBits(), static_cast<size_t>(image.sizeInBytes()), 7);
    }
    out.icon.setIsMask(p.gaugeTemplate);
    return out;
}

quint64 TLTrayIconKey(const TLTrayIconContent& c, TLAppearance trayAppearance) {
    // The 2x rendering of the standard slot decides: when its pixels do not change, no size the
    // tray shows changes visibly.
    const QImage image = TLRenderTrayIcon(c, 22, 2.0, trayAppearance);
    return qHashBits(image.constBits(), static_cast<size_t>(image.sizeInBytes()), 0x7469646521ULL);
}

TLTrayIcon TLMakeTrayIcon(const TLTrayIconContent& c, TLAppearance trayAppearance) {
    TLTrayIcon out;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        out.icon.addPixmap(QPixmap::fromImage(TLRenderTrayIcon(c, size, 1.0, trayAppearance)));
    }
    out.key = TLTrayIconKey(c, trayAppearance);
    return out;
}
