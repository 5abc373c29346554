#pragma once
// The structures of com.canonical.dbusmenu on the bus, with their marshalling.

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QStringList>
#include <QVariantMap>

// An item and its properties: (ia{sv}).
struct TLDBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using TLDBusMenuItemList = QList<TLDBusMenuItem>;

// The names of the properties an item no longer has: (ias).
struct TLDBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using TLDBusMenuItemKeysList = QList<TLDBusMenuItemKeys>;

// An item with its children, each child wrapped in a variant: (ia{sv}av).
struct TLDBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<TLDBusMenuLayoutItem> children;
};

// One event of EventGroup: (isvu).
struct TLDBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using TLDBusMenuEventList = QList<TLDBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuEvent& event);

// Registers the types with QtDBus (once; later calls do nothing).
void TLRegisterDBusMenuTypes();

Q_DECLARE_METATYPE(TLDBusMenuItem)
Q_DECLARE_METATYPE(TLDBusMenuItemKeys)
Q_DECLARE_METATYPE(TLDBusMenuLayoutItem)
Q_DECLARE_METATYPE(TLDBusMenuEvent)
