// Tells the status item when a tray host may have come or gone, so that it needs no polling while
// a tray shows it: the X11 side follows the embedding tray, the D-Bus side the
// StatusNotifierItem watcher and the hosts that register with it.

#include "platform/TLWindowSystem.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

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

std::unique_ptr<QObject> TLWatchTrayHosts(std::function<void()> changed) {
    auto owner = std::make_unique<QObject>();
    TLWatchXEmbedTray(changed, owner.get());
    new StatusNotifierHostWatch(std::move(changed), owner.get());
    return owner;
}

#include "TLTrayHostWatch.moc"
