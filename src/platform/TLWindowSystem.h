#pragma once
#include <QRect>

// Facts about the window system that Qt does not expose.

// Whether a compositing manager runs, so that translucent window pixels blend with what lies
// behind (rounded corners, soft edges). Without one they would show black.
bool TLWindowSystemComposites();
