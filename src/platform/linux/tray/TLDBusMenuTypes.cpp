#include "platform/linux/tray/TLDBusMenuTypes.h"

#include <QDBusMetaType>

QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg << keys.id << keys.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg >> keys.id >> keys.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const TLDBusMenuLayoutItem& child : item.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuLayoutItem& item) {
    item.children.clear();
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant wrapped;
        arg >> wrapped;
        TLDBusMenuLayoutItem child;
        // A child that is not a layout item is skipped.
        const QVariant v = wrapped.variant();
        if (v.canConvert<QDBusArgument>()) {
            const QDBusArgument inner = v.value<QDBusArgument>();
            if (inner.currentSignature() == QStringLiteral("(ia{sv}av)")) {
                inner >> child;
                item.children.append(child);
            }
        }
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const TLDBusMenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TLDBusMenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

void TLRegisterDBusMenuTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<TLDBusMenuItem>();
        qDBusRegisterMetaType<TLDBusMenuItemList>();
        qDBusRegisterMetaType<TLDBusMenuItemKeys>();
        qDBusRegisterMetaType<TLDBusMenuItemKeysList>();
        qDBusRegisterMetaType<TLDBusMenuLayoutItem>();
        qDBusRegisterMetaType<TLDBusMenuEvent>();
        qDBusRegisterMetaType<TLDBusMenuEventList>();
        return true;
    }();
    (void)registered;
}
