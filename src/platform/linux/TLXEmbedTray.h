#pragma once
// The XEmbed tray (X11): a system tray that embeds the icon as a window of ours inside its panel.
// It owns the selection _NET_SYSTEM_TRAY_Sn of its screen, and tells where the icon is.

#include <QObject>

#include <functional>

// Whether such a tray runs on this X display. False when the session is not X11.
bool TLXEmbedTrayPresent();

// Follows the tray of the screen on a connection of our own and calls `changed` when a tray
// announces itself or the tray's window ends. Owned by `parent`; it does nothing when the session
// is not X11.
QObject* TLWatchXEmbedTray(std::function<void()> changed, QObject* parent);
