#include "platform/TLClickGeometry.h"

QRect TLBarAroundClick(const QPoint& click, const QRect& screen, int deepest) {
    if (!screen.contains(click)) return QRect(click, QSize(1, 1));
    const int fromTop = click.y() - screen.top();
    const int fromBottom = screen.bottom() - click.y();
    const bool top = fromTop <= fromBottom;
    const int depth = 2 * (top ? fromTop : fromBottom) + 1;
    if (depth > deepest) return QRect(click, QSize(1, 1));
    return top ? QRect(click.x(), screen.top(), 1, depth)
               : QRect(click.x(), screen.bottom() + 1 - depth, 1, depth);
}

QPoint TLFromScreenPixels(const std::vector<TLScreenPixels>& screens, const QPoint& position) {
    for (const TLScreenPixels& s : screens) {
        if (!s.pixels.contains(position) || s.logical.isEmpty()) continue;
        const QPoint in = position - s.pixels.topLeft();
        // Rounded down: the pixel's logical position is the one it lies in.
        const auto scaled = [](int v, int logical, int pixels) {
            return static_cast<int>(static_cast<long long>(v) * logical / pixels);
        };
        return s.logical.topLeft() + QPoint(scaled(in.x(), s.logical.width(), s.pixels.width()),
                                            scaled(in.y(), s.logical.height(), s.pixels.height()));
    }
    return position;
}
