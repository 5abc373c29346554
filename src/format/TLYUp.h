#pragma once
#include <QPainter>

// The drawings of this program are laid out with the origin at the bottom left of their box and y
// growing upwards; Qt puts the origin at the top left with y growing downwards. The conversion is
// made here and nowhere else: geometry functions return y-up values (a rectangle's y is its bottom
// edge), and painting code turns its painter once with TLYUpBegin before drawing them.

// Turns the painter so that later drawing in y-up coordinates lands in the box of the given height
// whose top-left corner is the painter's current origin. Composes with the current transform, so
// it also works inside a painter that is already translated or scaled.
inline void TLYUpBegin(QPainter& painter, qreal height) {
    painter.translate(0, height);
    painter.scale(1, -1);
}
