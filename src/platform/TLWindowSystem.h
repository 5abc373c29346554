#pragma once
#include <QPoint>
#include <QRect>
#include <QString>

// Facts about the window system that Qt does not expose.

// Whether a compositing manager runs, so that translucent window pixels blend with what lies
// behind (rounded corners, soft edges). Without one they would show black.
bool TLWindowSystemComposites();

// Whether the key the user knows as Control is held now (Qt calls it Meta on macOS).
bool TLControlKeyHeld();

// Whether an X11 connection to `display` (a DISPLAY value) can be made. Asked before Qt starts,
// which would abort the program without a usable message.
bool TLX11DisplayReachable(const QString& display);

class QWidget;

// Keeps a window that is about to be shown out of the taskbar and the pager (a popup of the
// tray, not a window of its own). Call before each show: window managers forget it on hiding.
// It does nothing on macOS.
void TLKeepOutOfTaskbar(QWidget* window);

// The rectangle of the top-level window at a point of the screen (a desktop's panel, for a point
// on a tray icon that the panel draws itself); empty when unknown or not X11.
QRect TLTopLevelWindowRectAt(const QPoint& point);

// Ends the startup sequence (the busy cursor and launch feedback) a desktop began under `id` for
// this program, on X11 (startup-notification's "remove" message). A host that starts one for a
// click on the status item ends its feedback only when told, whatever the click opened.
// Does nothing elsewhere.
void TLEndStartupFeedback(const QString& id);
