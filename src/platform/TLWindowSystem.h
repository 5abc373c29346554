#pragma once
#include <QObject>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>

// Facts about the window system that Qt does not expose.

// Whether a compositing manager runs, so that translucent window pixels blend with what lies
// behind (rounded corners, soft edges). Without one they would show black.
bool TLWindowSystemComposites();

// Whether the bar that holds a tray icon gives it room for a picture and text side by side (the
// macOS menu bar), rather than a square slot (the trays of Linux desktops).
bool TLTrayHasRoomBesideImage();

// Whether an X11 connection to `display` (a DISPLAY value) can be made. Asked before Qt starts,
// which would abort the program without a usable message.
bool TLX11DisplayReachable(const QString& display);

class QWidget;

// Whether a system tray that embeds icons (an XEmbed tray, which owns the selection
// _NET_SYSTEM_TRAY_Sn of the screen) runs on this X display. False elsewhere.
bool TLXEmbedTrayPresent();

// Calls `changed` whenever a tray host may have come or gone: an embedding tray announcing itself
// or its window ending (X11), a StatusNotifierItem watcher starting or ending on the session bus,
// or a host registering or unregistering with it. It checks nothing itself: the caller asks who
// is there. The returned object stops the watching when deleted.
std::unique_ptr<QObject> TLWatchTrayHosts(std::function<void()> changed);
// Its X11 half, owned by `parent`; it does nothing when the session is not X11.
QObject* TLWatchXEmbedTray(std::function<void()> changed, QObject* parent);

// Keeps a window that is about to be shown out of the taskbar and the pager (a popup of the
// tray, not a window of its own). Call before each show: window managers forget it on hiding.
void TLKeepOutOfTaskbar(QWidget* window);

// The rectangle of the top-level window at a point of the screen (a desktop's panel, for a point
// on a tray icon that the panel draws itself); empty when unknown or not X11.
QRect TLTopLevelWindowRectAt(const QPoint& point);
