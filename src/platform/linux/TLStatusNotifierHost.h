#pragma once
// The StatusNotifierItem host: a panel on the session bus that draws the item's icon itself from
// what the item exports over D-Bus, and shows the item's menu on a right click. Hosts register
// with the StatusNotifierWatcher (org.kde.StatusNotifierWatcher); a watcher alone shows nothing.

#include <QObject>

#include <functional>

// Whether a host runs: the watcher is on the session bus (TLSessionBus) and a host has registered
// with it. A watcher that does not answer within half a second counts as none.
bool TLStatusNotifierHostPresent();

// Calls `changed` when the watcher starts, ends or changes hands, when a host registers or
// unregisters with it, and when the session bus is lost or a new one comes. Owned by `parent`.
QObject* TLWatchStatusNotifierHosts(std::function<void()> changed, QObject* parent);
