// The tray's own pixels around the icon, where the host tells where the icon is.

#include "platform/TLDesktopColors.h"

#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QScreen>

QColor TLTrayBarColorFromScreen(const QRect& g) {
    if (!g.isValid() || g.isEmpty()) return {};
    QScreen* screen = QGuiApplication::screenAt(g.center());
    if (!screen) return {};
    const QRect local = g.translated(-screen->geometry().topLeft());
    const QImage image = screen->grabWindow(0, local.x(), local.y(), local.width(), local.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) return {};
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++counts[line[x] & 0xF0F0F0];
    }
    QRgb best = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return most > 0 ? QColor::fromRgb(best) : QColor();
}
