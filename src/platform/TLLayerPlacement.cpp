// Where a layer window goes, and what takes the presses around it: plain geometry, the same on
// every platform (the layer shell itself is in platform/wayland/).

#include "platform/TLLayerShell.h"

#include <algorithm>

TLLayerPlacement TLLayerPlacementAtPointer(const QSize& size, const QSize& screenSize,
                                           const QPoint& pointer, int margin) {
    TLLayerPlacement p;
    p.edge = pointer.y() * 2 > screenSize.height() ? TLLayerPlacement::Edge::Bottom
                                                   : TLLayerPlacement::Edge::Top;
    const int highest = std::max(margin, screenSize.width() - margin - size.width());
    p.left = std::clamp(pointer.x() - size.width() / 2, margin, highest);
    return p;
}

TLLayerPlacement TLLayerPlacementFromAnchor(const QSize& size, const QRect& screen,
                                            const QRect& anchor, int margin, int gap,
                                            int reserved) {
    const QPoint centre = anchor.center() - screen.topLeft();
    TLLayerPlacement p = TLLayerPlacementAtPointer(size, screen.size(), centre, margin);
    const int depth = p.edge == TLLayerPlacement::Edge::Top
                          ? std::max(0, anchor.bottom() + 1 - screen.top())
                          : std::max(0, screen.bottom() + 1 - anchor.top());
    // Where the compositor keeps a reserved area, the margin counts from its end. A bar reserves
    // its thickness T; one that floats (Plasma 6) stands m off the edge besides, its icons m + T/2
    // from the edge, so the anchor's band is 2m + T deep and the bar's far side, m + T out, lies
    // (band - T) / 2 beyond the reserved area (none for a bar on the edge).
    p.gap = (reserved > 0 ? std::max(0, (depth - reserved) / 2) : depth) + gap;
    return p;
}

TLLayerCatchers TLLayerCatchersAround(const QSize& screenSize, const QSize& window,
                                      const TLLayerPlacement& p) {
    TLLayerCatchers c;
    const int x = p.left ? *p.left : screenSize.width() - p.gap - window.width();
    c.column = QRect(x, 0, window.width(), screenSize.height());
    TLLayerStrip strip;
    strip.edge = p.edge;
    strip.left = p.left;
    strip.right = p.gap;
    // Between the edge (or its bar) and the window.
    if (p.gap > 0) {
        strip.margin = 0;
        strip.size = QSize(window.width(), p.gap);
        c.strips.push_back(strip);
    }
    // Beyond the window, to the far side of the screen: a bar's reserved area can only make the
    // window end sooner, and the strip then reaches past the screen, which the compositor clips.
    const int beyond = screenSize.height() - p.gap - window.height();
    if (beyond > 0) {
        strip.margin = p.gap + window.height();
        strip.size = QSize(window.width(), beyond);
        c.strips.push_back(strip);
    }
    return c;
}
