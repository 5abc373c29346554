#pragma once
#include <QRect>
#include <QString>

// Facts about the window system that Qt does not expose.

// Whether a compositing manager runs, so that translucent window pixels blend with what lies
// behind (rounded corners, soft edges). Without one they would show black.
bool TLWindowSystemComposites();

// Whether an X11 connection to `display` (a DISPLAY value) can be made. Asked before Qt starts,
// which would abort the program without a usable message.
bool TLX11DisplayReachable(const QString& display);
