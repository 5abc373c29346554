// The StatusNotifierItem host: whether one runs, and its comings and goings on the session bus.

#include "platform/linux/TLStatusNotifierHost.h"

#include "platform/linux/TLSessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// The watcher's and the hosts' announcements on one bus.
class StatusNotifierHostWatch final : public QObject {
    Q_OBJECT
public:
    StatusNotifierHostWatch(QDBusConnection bus, std::function<void()> changed, QObject* parent)
        : QObject(parent), _changed(std::move(changed)) {
        // The watcher starting, ending or changing hands...
        auto* service = new QDBusServiceWatcher(kWatcherService, bus,
                                                QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(service, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &StatusNotifierHostWatch::hostsChanged);
        // ... and hosts coming and going while it runs.
        for (const char* signal :
             {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            bus.connect(kWatcherService, QStringLiteral("/StatusNotifierWatcher"), kWatcherService,
                        QString::fromLatin1(signal), this, SLOT(hostsChanged()));
    }

public slots:
    void hostsChanged() { _changed(); }

private:
    std::function<void()> _changed;
};

} // namespace

bool TLStatusNotifierHostPresent() {
    QDBusConnection bus = TLSessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // A host that hangs must not hang the program: a short wait, and no answer counts as none.
    const QDBusMessage reply = bus.call(get, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

QObject* TLWatchStatusNotifierHosts(std::function<void()> changed, QObject* parent) {
    // A bus lost takes its hosts along, and a new one may bring some.
    return TLOnSessionBus(
        parent,
        [changed](QDBusConnection bus, QObject* owner) {
            new StatusNotifierHostWatch(std::move(bus), changed, owner);
        },
        changed);
}

#include "TLStatusNotifierHost.moc"
