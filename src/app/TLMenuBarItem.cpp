#include "app/TLMenuBarItem.h"

#include "format/TLPictureIcon.h"
#include "format/TLStatusBarImage.h"
#include "widgets/TLFonts.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

QImage TLRenderMenuBarIcon(const TLMenuBarContent& c, TLAppearance bar, qreal dpr) {
    const QFont font = TLMonospacedDigitSystemFont(11, QFont::Medium);
    const QFontMetricsF fm(font);
    const qreal gap = c.gauge && !c.title.isEmpty() ? 4 : 0;
    const qreal gaugeW = c.gauge ? TLStatusBarImageWidth : 0;
    const qreal textW = c.title.isEmpty() ? 0 : std::ceil(fm.horizontalAdvance(c.title));
    const qreal h = TLMenuBarHeight;
    const QSizeF size(std::max<qreal>(1, gaugeW + gap + textW), h);
    const QColor ink = TLStatusBarTemplateInk(bar);
    QImage image((size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (c.gauge) {
        painter.save();
        painter.translate(0, TLMenuBarGaugeTop(dpr));
        TLStatusBarImage(c.gaugeColor, c.gaugeTemplate, c.fraction)
            .draw(painter, bar, c.gaugeTemplate ? QColor(Qt::black) : ink);
        painter.restore();
    }
    if (!c.title.isEmpty()) {
        painter.setFont(font);
        painter.setPen(c.gaugeTemplate ? QColor(Qt::black) : ink);
        painter.drawText(QPointF(gaugeW + gap, (h + fm.ascent() - fm.descent()) / 2), c.title);
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

TLStatusPicture TLMakeMenuBarIcon(const TLMenuBarContent& c, std::optional<TLAppearance> bar) {
    TLStatusPicture out;
    QList<QPixmap> pictures;
    for (qreal dpr : {1.0, 2.0}) {
        const QImage image = TLRenderMenuBarIcon(c, bar.value_or(TLAppearance::Light), dpr);
        pictures.append(QPixmap::fromImage(image));
        if (dpr == 2.0)
            out.key = qHashBits(image.constBits(), static_cast<size_t>(image.sizeInBytes()), 7);
    }
    out.icon = TLPictureIcon(std::move(pictures));
    out.icon.setIsMask(c.gaugeTemplate);
    return out;
}
