#pragma once
#include "format/TLColor.h"

#include <QList>
#include <QPixmap>
#include <QPolygonF>
#include <QRectF>
#include <QWidget>

// The history graph: the recent memory usage plotted as a line over a soft gradient fill, on a
// rounded, faintly tinted background with two horizontal guide lines. The newest value is at the
// right edge.
//
// Geometry in points, y-up (origin at the bottom left of the view), for a view whose bounds are
// (x0, y0, w, h). The panel's 294 × 40 view has its guide lines at y = 13.5 and 26.5 and plots
// into the band from 1.5 to 38.5.

inline constexpr qreal TLSparkCornerRadius = 5;
inline constexpr qreal TLSparkBackgroundAlpha = 0.18;
inline constexpr qreal TLSparkGuideAlpha = 0.5;
inline constexpr qreal TLSparkGuideWidth = 1;
inline constexpr qreal TLSparkLineWidth = 1.5;
inline constexpr qreal TLSparkInset = 1.5;
inline constexpr qreal TLSparkGradientTopAlpha = 0.42;
inline constexpr qreal TLSparkGradientBottomAlpha = 0.04;

struct TLSparkGuides {
    qreal lower; // floor(y0 + h / 3) + 0.5
    qreal upper; // floor(y0 + 2h / 3) + 0.5
};
TLSparkGuides TLSparkGuideLines(const QRectF& bounds);

struct TLSparkBandRange {
    qreal bottom; // y0 + 1.5: where a value of 0 is plotted
    qreal top;    // y0 + h − 1.5: where a value of 1 is plotted
};
TLSparkBandRange TLSparkBand(const QRectF& bounds);

// A value as plotted: clamped to 0 … 1, and 0 when it is not a number.
double TLSparkClampValue(double value);

// The line's points, first value on the left edge and last on the right edge; empty for fewer
// than two values (nothing is plotted then).
QPolygonF TLSparkPoints(const QRectF& bounds, const QList<double>& values);

// The line as drawn: the points without those that lie within `tolerance` of the straight line
// between the points kept on either side of them. A history that changes little has long runs of
// almost collinear points, each of which would cost a round join of its own; dropped within a
// twentieth of a device pixel, they change nothing that can be seen. The first and last points
// are always kept.
QPolygonF TLSparkLinePoints(const QPolygonF& points, qreal tolerance);

// The area under the line: its points, then the bottom-right and bottom-left corners of the
// bounds. Empty when the line is.
QPolygonF TLSparkFillPolygon(const QRectF& bounds, const QPolygonF& points);

class TLSparkView : public QWidget {
    Q_OBJECT
public:
    explicit TLSparkView(QWidget* parent = nullptr);
    // Starts with the given geometry, which is also its size hint.
    explicit TLSparkView(const QRect& frame, QWidget* parent = nullptr);

    // The series, left to right, as fractions of the plotting height (0 bottom, 1 top). Starts
    // empty; setting it redraws the view. The list is implicitly shared, not copied.
    const QList<double>& values() const { return _values; }
    void setValues(const QList<double>& values);

    // The time between two values (for the span a reader is told of); 0 while unknown.
    double secondsPerValue() const { return _secondsPerValue; }
    void setSecondsPerValue(double seconds) { _secondsPerValue = seconds; }

    // Colour of the line and base of the fill. Starts as the system green; setting it redraws.
    const TLColor& tint() const { return _tint; }
    void setTint(const TLColor& tint);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The rounded background and its guide lines, which change only with the size, the
    // appearance and the screen: drawn once into `_backdrop`, then copied on every paint.
    void paintBackdrop(QPainter& painter, TLAppearance appearance) const;

    QList<double> _values;
    double _secondsPerValue = 0;
    TLColor _tint;
    QSize _frameSize;
    QPixmap _backdrop;
    TLAppearance _backdropAppearance = TLAppearance::Light;
};
