#include "format/TLStatusBarImage.h"

#include "format/TLPictureIcon.h"
#include "format/TLYUp.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal kInnerWidth = 20;  // the fill at a fraction of 1
constexpr double kMinimumFill = 2; // coloured look, above 1 %
constexpr double kMinimumFrom = 0.01;
constexpr qreal kOutlineAlpha = 0.55;

// The gauge's box fitted into a target rectangle, keeping its proportions, centred.
void drawFitted(const TLGaugeImage& gauge, QPainter& painter, const QRectF& target,
                TLAppearance appearance, const QColor& ink) {
    const QSizeF size = TLGaugeImage::size();
    const qreal scale = std::min(target.width() / size.width(), target.height() / size.height());
    if (!(scale > 0)) return;
    painter.save();
    painter.translate(target.x() + (target.width() - size.width() * scale) / 2,
                      target.y() + (target.height() - size.height() * scale) / 2);
    painter.scale(scale, scale);
    gauge.draw(painter, appearance, ink);
    painter.restore();
}

// Runs the gauge's drawing for every pixmap an icon user asks for.
class TLGaugeIconEngine final : public QIconEngine {
public:
    TLGaugeIconEngine(TLGaugeImage gauge, TLAppearance appearance, QColor ink)
        : _gauge(std::move(gauge)), _appearance(appearance), _ink(ink) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        drawFitted(_gauge, *painter, rect, _appearance, _ink);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // `scale` is the device pixel ratio; `size` is in device pixels or in points, as the running
    // Qt gives it (TLScaledPixmapSizeIsInDevicePixels).
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) override {
        if (size.isEmpty()) return {};
        if (!(scale > 0)) scale = 1;
        const QSize pixels =
            TLScaledPixmapSizeIsInDevicePixels() ? size : (QSizeF(size) * scale).toSize();
        QPixmap pixmap(pixels);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        drawFitted(_gauge, painter, QRectF(QPointF(0, 0), QSizeF(pixels) / scale), _appearance,
                   _ink);
        return pixmap;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const QSizeF gauge = TLGaugeImage::size();
        return gauge.scaled(QSizeF(size), Qt::KeepAspectRatio).toSize();
    }
    QString key() const override { return QStringLiteral("TLGaugeIconEngine"); }
    QIconEngine* clone() const override { return new TLGaugeIconEngine(*this); }

private:
    TLGaugeImage _gauge;
    TLAppearance _appearance;
    QColor _ink;
};

} // namespace

QRectF TLStatusBarOutlineRect() {
    return {0.5, 1.5, 23, 8};
}

double TLStatusBarClampFraction(double fraction) {
    if (std::isnan(fraction)) return 0;
    return std::max(std::min(fraction, 1.0), 0.0);
}

double TLStatusBarFillWidth(double fraction, bool isTemplate) {
    const double f = TLStatusBarClampFraction(fraction);
    const double width = kInnerWidth * f;
    if (isTemplate) return width;
    return std::max(width, f > kMinimumFrom ? kMinimumFill : 0.0);
}

QRectF TLStatusBarFillRect(double fraction, bool isTemplate) {
    // The outline inset by 1.5 on every side: (2, 3, 20, 5), then the fill width.
    const QRectF inner = TLStatusBarOutlineRect().adjusted(1.5, 1.5, -1.5, -1.5);
    return {inner.x(), inner.y(), TLStatusBarFillWidth(fraction, isTemplate), inner.height()};
}

TLGaugeImage::TLGaugeImage(const TLColor& color, bool isTemplate, double fraction)
    : _color(color), _isTemplate(isTemplate), _fraction(TLStatusBarClampFraction(fraction)) {}

void TLGaugeImage::draw(QPainter& painter, TLAppearance appearance,
                        const QColor& templateInk) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    TLYUpBegin(painter, TLStatusBarImageHeight);

    const QColor outlineColor =
        _isTemplate ? templateInk
                    : TLTertiaryLabelColor().withAlpha(kOutlineAlpha).resolve(appearance);
    const QColor fillColor = _isTemplate ? templateInk : _color.resolve(appearance);

    QPainterPath outline;
    outline.addRoundedRect(TLStatusBarOutlineRect(), TLStatusBarOutlineRadius,
                           TLStatusBarOutlineRadius);
    QPen pen(outlineColor, 1.0);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.strokePath(outline, pen);

    const QRectF fill = TLStatusBarFillRect(_fraction, _isTemplate);
    if (fill.width() > 0) {
        QPainterPath path;
        path.addRoundedRect(fill, TLStatusBarFillRadius, TLStatusBarFillRadius);
        painter.fillPath(path, fillColor);
    }
    painter.restore();
}

QImage TLGaugeImage::toImage(qreal devicePixelRatio, TLAppearance appearance,
                             const QColor& templateInk) const {
    // Screens report ratios from 1 to 4 or so; anything else is not worth a huge image.
    if (!(devicePixelRatio > 0)) devicePixelRatio = 1;
    devicePixelRatio = std::min<qreal>(devicePixelRatio, 16);
    const QSize pixels(static_cast<int>(std::ceil(TLStatusBarImageWidth * devicePixelRatio)),
                       static_cast<int>(std::ceil(TLStatusBarImageHeight * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter, appearance, templateInk);
    return image;
}

QIcon TLGaugeImage::toIcon(TLAppearance appearance, const QColor& templateInk,
                           bool templateAsMask) const {
    const bool mask = templateAsMask && _isTemplate;
    // A bar that tints a mask icon itself needs only its shape.
    QIcon icon(new TLGaugeIconEngine(*this, appearance, mask ? QColor(Qt::black) : templateInk));
    icon.setIsMask(mask);
    return icon;
}

TLGaugeImage TLStatusBarImage(const TLColor& color, bool isTemplate, double fraction) {
    return TLGaugeImage(color, isTemplate, fraction);
}

QColor TLStatusBarTemplateInk(TLAppearance barAppearance) {
    return TLLabelColor().resolve(barAppearance);
}
