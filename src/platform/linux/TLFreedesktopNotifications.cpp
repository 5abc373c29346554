#include "platform/linux/TLFreedesktopNotifications.h"

#include "platform/TLBuildConfig.h"
#include "platform/linux/TLSessionBus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

TLFreedesktopNotifications::TLFreedesktopNotifications(const QDBusConnection& bus, int timeoutMs)
    : _bus(bus), _timeoutMs(timeoutMs) {
    if (!_bus.isConnected()) return;
    _bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    _bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onClosed(uint, uint)));
}

void TLFreedesktopNotifications::post(const TLNotification& notification) {
    if (!_bus.isConnected()) return;
    const quint64 post = ++_posts;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                             QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(_bus.asyncCall(call, _timeoutMs), this);
    ++_pending;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notification, post](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                --_pending;
                if (post != _posts) return; // a newer notification took its place
                const QDBusPendingReply<QStringList> reply = *w;
                if (reply.isError()) {
                    // No server: nothing to show it. A server that failed to answer this one
                    // question may still show a plain notification.
                    const QString name = reply.error().name();
                    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                        name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                        name == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
                        return;
                    send(notification, false);
                    return;
                }
                send(notification, reply.value().contains(QLatin1String("actions")));
            });
}

void TLFreedesktopNotifications::send(const TLNotification& n, bool withActions) {
    QStringList actions;
    if (withActions)
        for (const TLNotification::Action& a : n.actions)
            actions << a.key << a.label;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(uchar(n.urgent ? 2 : 1))); // critical or normal
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral(TIDE_APP_ID));
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QString::fromUtf8(TIDE_DISPLAY_NAME) << _shownId << QStringLiteral(TIDE_APP_ID)
         << n.title << n.body << actions << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(_bus.asyncCall(call, _timeoutMs), this);
    ++_pending;
    const quint64 post = _posts;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, post](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                --_pending;
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError() || post != _posts) return;
                _shownId = _latestId = reply.value();
            });
}

void TLFreedesktopNotifications::onActionInvoked(uint id, const QString& key) {
    if (id != 0 && id == _latestId) emit actionInvoked(key);
}

void TLFreedesktopNotifications::onClosed(uint id, uint reason) {
    (void)reason;
    if (id == _shownId) _shownId = 0;
}

namespace {

// The notification server of the session bus now: a new bus has a server of its own, which knows
// nothing of the notifications shown before.
class SessionNotifications final : public TLNotificationCenter {
public:
    SessionNotifications() {
        follow();
        TLFollowSessionBus(this, [this] { follow(); });
    }
    void post(const TLNotification& notification) override { _server->post(notification); }

private:
    void follow() {
        _server = std::make_unique<TLFreedesktopNotifications>(TLSessionBus());
        connect(_server.get(), &TLNotificationCenter::actionInvoked, this,
                &TLNotificationCenter::actionInvoked);
    }

    std::unique_ptr<TLFreedesktopNotifications> _server;
};

} // namespace

std::unique_ptr<TLNotificationCenter> TLMakeNotificationCenter() {
    return std::make_unique<SessionNotifications>();
}
