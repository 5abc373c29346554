#include "widgets/TLStackedBarView.h"

#include "format/TLYUp.h"
#include "widgets/TLAppearance.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

QList<TLStackedBarSegment> TLStackedBarSegments(const QRectF& b, const QList<double>& fractions,
                                                qsizetype count) {
    QList<TLStackedBarSegment> segments;
    const qsizetype n = std::min(count, fractions.size());
    const qreal right = b.x() + b.width();
    qreal x = b.x();
    for (qsizetype i = 0; i < n; ++i) {
        const double f = fractions[i];
        const qreal s = (std::isnan(f) || f < 0 ? 0.0 : f) * b.width();
        if (!(s > 0)) continue;
        segments.append({i, QRectF(x, b.y(), s + TLStackedBarOverlap, b.height())});
        x += s;
        if (x > right) break;
    }
    return segments;
}

TLStackedBarView::TLStackedBarView(QWidget* parent) : QWidget(parent) {}

TLStackedBarView::TLStackedBarView(const QRect& frame, QWidget* parent) : TLStackedBarView(parent) {
    _frameSize = frame.size();
    setGeometry(frame);
}

void TLStackedBarView::setColors(const QList<TLColor>& colors) {
    _colors = colors;
    update();
}

void TLStackedBarView::setFractions(const QList<double>& fractions) {
    _fractions = fractions;
    update();
}

QSize TLStackedBarView::sizeHint() const {
    return _frameSize.isValid() ? _frameSize : QWidget::sizeHint();
}

void TLStackedBarView::paintEvent(QPaintEvent*) {
    const TLAppearance appearance = TLEffectiveAppearance(this);
    const QRectF bounds(0, 0, width(), height());

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    TLYUpBegin(painter, bounds.height());

    const qreal radius = bounds.height() * 0.5;
    QPainterPath track;
    track.addRoundedRect(bounds, radius, radius);
    painter.fillPath(track, TLLabelColor().withAlpha(TLStackedBarTrackAlpha).resolve(appearance));

    painter.save();
    painter.setClipPath(track);
    for (const TLStackedBarSegment& segment :
         TLStackedBarSegments(bounds, _fractions, _colors.size()))
        painter.fillRect(segment.rect, _colors[segment.index].resolve(appearance));
    painter.restore();
}
