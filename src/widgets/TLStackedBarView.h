#pragma once
#include "format/TLColor.h"

#include <QList>
#include <QRectF>
#include <QWidget>

// The composition bar: a horizontal capsule split into coloured segments laid end to end from the
// left, each as wide as its fraction of the bar. What no segment covers shows a faint track.
//
// Geometry in points, y-up (origin at the bottom left of the view).

inline constexpr qreal TLStackedBarTrackAlpha = 0.1;
inline constexpr qreal TLStackedBarOverlap = 0.5;

struct TLStackedBarSegment {
    qsizetype index; // which colour and fraction
    QRectF rect;     // (x, y0, s + 0.5, h): each segment overlaps the start of the next by 0.5
};

// The segments drawn for the fractions, in order. Segment i exists for i below both list lengths
// (`count` is the smaller one); its width s is the fraction (0 when negative or not a number, not
// lowered above 1) times the width. A segment of width 0 is skipped without moving on; once the
// running edge passes the right end, the later segments are not drawn.
QList<TLStackedBarSegment> TLStackedBarSegments(const QRectF& bounds,
                                                const QList<double>& fractions, qsizetype count);

class TLStackedBarView : public QWidget {
    Q_OBJECT
public:
    explicit TLStackedBarView(QWidget* parent = nullptr);
    // Starts with the given geometry, which is also its size hint.
    explicit TLStackedBarView(const QRect& frame, QWidget* parent = nullptr);

    // Colour of segment i. Starts empty; setting it redraws.
    const QList<TLColor>& colors() const { return _colors; }
    void setColors(const QList<TLColor>& colors);

    // Width of segment i as a fraction of the bar. Starts empty; setting it redraws.
    const QList<double>& fractions() const { return _fractions; }
    void setFractions(const QList<double>& fractions);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<TLColor> _colors;
    QList<double> _fractions;
    QList<double> _paintedFractions; // the fractions of the last paint
    QSize _frameSize;
};
