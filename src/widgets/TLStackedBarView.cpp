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
    if (colors == _colors) return;
    _colors = colors;
    update();
}

void TLStackedBarView::setFractions(const QList<double>& fractions) {
    // The figures move a little on every refresh: repaint only when a segment moves by a tenth
    // of a point or more (the edges are antialiased, so a smaller move shows nowhere). The
    // comparison is with what was last painted, so that small moves add up.
    const QRectF bounds(0, 0, width(), height());
    const QList<TLStackedBarSegment> before =
        TLStackedBarSegments(bounds, _paintedFractions, _colors.size());
    const QList<TLStackedBarSegment> after =
        TLStackedBarSegments(bounds, fractions, _colors.size());
    _fractions = fractions;
    bool moved = before.size() != after.size();
    for (qsizetype i = 0; !moved && i < after.size(); ++i)
        moved = before[i].index != after[i].index ||
                std::abs(before[i].rect.left() - after[i].rect.left()) >= 0.1 ||
                std::abs(before[i].rect.right() - after[i].rect.right()) >= 0.1;
    if (moved) update();
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

    _paintedFractions = _fractions;
    painter.save();
    painter.setClipPath(track);
    for (const TLStackedBarSegment& segment :
         TLStackedBarSegments(bounds, _fractions, _colors.size()))
        painter.fillRect(segment.rect, _colors[segment.index].resolve(appearance));
    painter.restore();
}
