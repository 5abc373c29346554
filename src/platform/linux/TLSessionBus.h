#pragma once
// The session bus Tide talks to. Qt's own connection (QDBusConnection::sessionBus()) is lost for
// good when the bus daemon ends: Qt never makes another. So when it goes, a connection of Tide's
// own to the session's address is tried, a second after the loss and then at doubling waits of up
// to half a minute, until a bus answers there; that one is the session bus from then on (and is
// followed in the same way). A Tide started without a bus tries likewise where the session names
// an address. Each try is one connect on a socket: nothing runs between the tries.

#include <QDBusConnection>
#include <QObject>

#include <functional>

// The session bus now: Qt's connection while it holds, else the latest one made in its place
// (disconnected while no bus answers).
QDBusConnection TLSessionBus();

// Calls `changed` when the session bus is lost and again when a new one is connected, until
// `context` is deleted.
void TLFollowSessionBus(QObject* context, std::function<void()> changed);

// Something made on the session bus (a watch on a name or a signal), made again on each new
// bus: `make` is called with the bus now and the object that owns what it makes, which is deleted
// when the bus is lost. `changed` is called after each loss and each new bus, when given. The
// returned object, owned by `parent`, ends it all.
QObject* TLOnSessionBus(QObject* parent, std::function<void(QDBusConnection, QObject*)> make,
                        std::function<void()> changed = {});
