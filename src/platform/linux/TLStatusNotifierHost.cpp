// The StatusNotifierItem host: whether one runs, and its comings and goings on the session bus.

#include "platform/linux/TLStatusNotifierHost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

class StatusNotifierHostWatch final : public QObject {
    Q_OBJECT
public:
    StatusNotifierHostWatch(std::function<void()> changed, QObject* parent)
        : QObject(parent), _changed(std::move(changed)) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
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
    QDBusConnection bus = QDBusConnection::sessionBus();
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
    return new StatusNotifierHostWatch(std::move(changed), parent);
}

#include "TLStatusNotifierHost.moc"
