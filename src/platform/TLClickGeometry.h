#pragma once
// From a tray host's click to the place on the screen the panel hangs from: plain geometry, used
// by every host (X11, Wayland, the StatusNotifierItem's positions in device pixels).

#include <QPoint>
#include <QRect>

#include <vector>

// The bar a click on a status icon was on, as the band of the screen it covers across the click's
// column (1 px wide, in the coordinates of `screen`, which is the screen's geometry). A bar lies
// along the top or the bottom edge with its icons in its middle, so the click's distance to that
// edge is half the bar's thickness: the band reaches from the edge to as far again beyond the
// click. A click farther than `deepest` / 2 from both edges is on no bar this can tell: the click
// itself (1 × 1) is returned.
QRect TLBarAroundClick(const QPoint& click, const QRect& screen, int deepest = 128);

// A screen as Qt has it (`logical`, in Qt's coordinates) and as a host that tells positions in
// the window system's pixels has it (`pixels`): on X11 the screen's rectangle there, on Wayland
// its current mode. The ratio of the two sizes is the screen's real scale (1.5 at 150 %), which
// Qt's devicePixelRatio is not on Wayland (the integer output scale, 2 at 150 %).
struct TLScreenPixels {
    QRect logical;
    QRect pixels;
};
// A position in those pixels, in Qt's coordinates: on the screen whose pixels hold it, scaled by
// that screen's own ratio from its corner; unchanged when on none.
QPoint TLFromScreenPixels(const std::vector<TLScreenPixels>& screens, const QPoint& position);
