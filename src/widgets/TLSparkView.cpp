#include "widgets/TLSparkView.h"

#include "format/TLYUp.h"
#include "widgets/TLAppearance.h"

#include <QLinearGradient>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

TLSparkGuides TLSparkGuideLines(const QRectF& b) {
    const qreal h = b.height();
    return {std::floor(b.y() + h / 3) + 0.5, std::floor(b.y() + 2 * h / 3) + 0.5};
}

TLSparkBandRange TLSparkBand(const QRectF& b) {
    return {b.y() + TLSparkInset, b.y() + b.height() - TLSparkInset};
}

double TLSparkClampValue(double value) {
    if (std::isnan(value)) return 0;
    return std::clamp(value, 0.0, 1.0);
}

QPolygonF TLSparkPoints(const QRectF& b, const QList<double>& values) {
    const qsizetype n = values.size();
    if (n < 2) return {};
    const qreal dx = b.width() / qreal(n - 1);
    const qreal band = b.height() - 2 * TLSparkInset;
    QPolygonF points;
    points.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        points.append(QPointF(b.x() + qreal(i) * dx,
                              b.y() + TLSparkInset + TLSparkClampValue(values[i]) * band));
    // The last point sits exactly on the right edge, whatever the rounding of i · dx.
    points.last().setX(b.x() + b.width());
    return points;
}

QPolygonF TLSparkLinePoints(const QPolygonF& points, qreal tolerance) {
    if (points.size() < 3) return points;
    QPolygonF kept;
    kept.reserve(points.size());
    kept.append(points.first());
    // From the last point kept (the anchor), the directions of a line that passes within the
    // tolerance of every point since: an interval of angles, narrowed by each point. A point may
    // go when the direction to the point after it still lies in the interval, so that the
    // straight line drawn instead stays within the tolerance of every point it replaces. The
    // points advance to the right, so the angles never wrap round.
    QPointF anchor = points.first();
    qreal low = -M_PI, high = M_PI;
    for (qsizetype i = 1; i + 1 < points.size(); ++i) {
        const QPointF d = points[i] - anchor;
        const qreal r = std::hypot(d.x(), d.y());
        if (r > tolerance) {
            const qreal angle = std::atan2(d.y(), d.x());
            const qreal spread = std::asin(tolerance / r);
            low = std::max(low, angle - spread);
            high = std::min(high, angle + spread);
        }
        const QPointF next = points[i + 1] - anchor;
        const qreal toNext = std::atan2(next.y(), next.x());
        if (low <= toNext && toNext <= high) continue;
        kept.append(points[i]);
        anchor = points[i];
        low = -M_PI;
        high = M_PI;
    }
    kept.append(points.last());
    return kept;
}

QPolygonF TLSparkFillPolygon(const QRectF& b, const QPolygonF& points) {
    if (points.isEmpty()) return {};
    QPolygonF fill = points;
    fill.append(QPointF(b.x() + b.width(), b.y()));
    fill.append(QPointF(b.x(), b.y()));
    return fill;
}

TLSparkView::TLSparkView(QWidget* parent) : QWidget(parent), _tint(TLSystemGreen()) {}

TLSparkView::TLSparkView(const QRect& frame, QWidget* parent) : TLSparkView(parent) {
    _frameSize = frame.size();
    setGeometry(frame);
}

void TLSparkView::setValues(const QList<double>& values) {
    _values = values;
    update();
}

void TLSparkView::setTint(const TLColor& tint) {
    _tint = tint;
    update();
}

QSize TLSparkView::sizeHint() const {
    return _frameSize.isValid() ? _frameSize : QWidget::sizeHint();
}

void TLSparkView::paintBackdrop(QPainter& painter, TLAppearance appearance) const {
    const QRectF bounds(0, 0, width(), height());
    painter.setRenderHint(QPainter::Antialiasing);
    TLYUpBegin(painter, bounds.height());
    QPainterPath background;
    background.addRoundedRect(bounds, TLSparkCornerRadius, TLSparkCornerRadius);
    painter.fillPath(
        background, TLQuaternaryLabelColor().withAlpha(TLSparkBackgroundAlpha).resolve(appearance));

    QPen guidePen(TLSeparatorColor().withAlpha(TLSparkGuideAlpha).resolve(appearance),
                  TLSparkGuideWidth);
    guidePen.setCapStyle(Qt::FlatCap);
    painter.setPen(guidePen);
    const TLSparkGuides guides = TLSparkGuideLines(bounds);
    for (qreal y : {guides.lower, guides.upper})
        painter.drawLine(QLineF(bounds.left(), y, bounds.right(), y));
}

void TLSparkView::paintEvent(QPaintEvent*) {
    const TLAppearance appearance = TLEffectiveAppearance(this);
    const QRectF bounds(0, 0, width(), height());
    QPainter painter(this);
    // The pixels of the device painted on: a rendering at twice the size (snapshots) gets a
    // backdrop of its own.
    const qreal dpr = painter.paintEngine()->paintDevice()->devicePixelRatioF();

    // Background, then the guide lines (before any clipping).
    if (_backdrop.isNull() || _backdrop.devicePixelRatio() != dpr ||
        _backdrop.size() != size() * dpr || _backdropAppearance != appearance) {
        _backdrop = QPixmap(size() * dpr);
        _backdrop.setDevicePixelRatio(dpr);
        _backdrop.fill(Qt::transparent);
        QPainter backdrop(&_backdrop);
        paintBackdrop(backdrop, appearance);
        _backdropAppearance = appearance;
    }
    painter.drawPixmap(QPointF(0, 0), _backdrop);
    painter.setRenderHint(QPainter::Antialiasing);
    TLYUpBegin(painter, bounds.height());
    QPainterPath background;
    background.addRoundedRect(bounds, TLSparkCornerRadius, TLSparkCornerRadius);

    const QPolygonF points = TLSparkLinePoints(TLSparkPoints(bounds, _values), 0.05 / dpr);
    if (points.size() < 2) return;

    painter.save();
    painter.setClipPath(background);

    // The fill: a gradient from the top of the area under the line (y-up: its greatest y) to its
    // bottom.
    QPainterPath fill;
    fill.addPolygon(TLSparkFillPolygon(bounds, points));
    fill.closeSubpath();
    const QRectF box = fill.boundingRect();
    QLinearGradient gradient(QPointF(0, box.y() + box.height()), QPointF(0, box.y()));
    gradient.setColorAt(0, _tint.withAlpha(TLSparkGradientTopAlpha).resolve(appearance));
    gradient.setColorAt(1, _tint.withAlpha(TLSparkGradientBottomAlpha).resolve(appearance));
    painter.fillPath(fill, gradient);

    QPen linePen(_tint.resolve(appearance), TLSparkLineWidth);
    linePen.setJoinStyle(Qt::RoundJoin);
    linePen.setCapStyle(Qt::FlatCap);
    painter.setPen(linePen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(points);
    painter.restore();
}
