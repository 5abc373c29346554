// The session bus, followed across the daemon's endings.

#include "platform/linux/TLSessionBus.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;

const QString kLocalPath = QStringLiteral("/org/freedesktop/DBus/Local");
const QString kLocalInterface = QStringLiteral("org.freedesktop.DBus.Local");
const QString kDisconnected = QStringLiteral("Disconnected");

class SessionBus final : public QObject {
    Q_OBJECT
public:
    explicit SessionBus(QObject* parent) : QObject(parent), _bus(QDBusConnection::sessionBus()) {
        _retry.setSingleShot(true);
        connect(&_retry, &QTimer::timeout, this, &SessionBus::reconnect);
        if (_bus.isConnected())
            follow();
        else if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            retryLater();
    }
    ~SessionBus() override {
        if (!_ownName.isEmpty()) QDBusConnection::disconnectFromBus(_ownName);
    }

    QDBusConnection bus() const { return _bus; }

signals:
    void changed();

private slots:
    // The connection's last word, from the library itself: the daemon closed it or ended.
    void lost() {
        _bus.disconnect(QString(), kLocalPath, kLocalInterface, kDisconnected, this, SLOT(lost()));
        _retryMs = kFirstRetryMs;
        retryLater();
        emit changed();
    }

private:
    void follow() {
        _bus.connect(QString(), kLocalPath, kLocalInterface, kDisconnected, this, SLOT(lost()));
    }

    void reconnect() {
        // A name of its own for each try: a name already in use would give back its connection.
        const QString name = QStringLiteral("tide-session-%1").arg(++_tries);
        QDBusConnection next = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        if (!next.isConnected()) {
            QDBusConnection::disconnectFromBus(name);
            retryLater();
            return;
        }
        if (!_ownName.isEmpty()) QDBusConnection::disconnectFromBus(_ownName);
        _ownName = name;
        _bus = next;
        follow();
        emit changed();
    }

    void retryLater() {
        _retry.start(_retryMs);
        _retryMs = std::min(_retryMs * 2, kLastRetryMs);
    }

    QDBusConnection _bus;
    QString _ownName; // the connection made in place of Qt's, if any
    QTimer _retry;
    int _retryMs = kFirstRetryMs;
    int _tries = 0;
};

// One per application, ending with it (the connections must not outlive Qt's bus manager).
SessionBus* sessionBus() {
    static QPointer<SessionBus> bus;
    if (!bus && QCoreApplication::instance()) bus = new SessionBus(QCoreApplication::instance());
    return bus;
}

// What TLOnSessionBus makes, and remakes.
class OnSessionBus final : public QObject {
public:
    OnSessionBus(QObject* parent, std::function<void(QDBusConnection, QObject*)> make,
                 std::function<void()> changed)
        : QObject(parent), _make(std::move(make)), _changed(std::move(changed)) {
        TLFollowSessionBus(this, [this] { remake(); });
        _made = new QObject(this);
        const QDBusConnection bus = TLSessionBus();
        if (bus.isConnected()) _make(bus, _made);
    }

private:
    void remake() {
        delete _made;
        _made = new QObject(this);
        const QDBusConnection bus = TLSessionBus();
        if (bus.isConnected()) _make(bus, _made);
        if (_changed) _changed();
    }

    std::function<void(QDBusConnection, QObject*)> _make;
    std::function<void()> _changed;
    QObject* _made = nullptr;
};

} // namespace

QDBusConnection TLSessionBus() {
    SessionBus* bus = sessionBus();
    return bus ? bus->bus() : QDBusConnection::sessionBus();
}

void TLFollowSessionBus(QObject* context, std::function<void()> changed) {
    if (SessionBus* bus = sessionBus())
        QObject::connect(bus, &SessionBus::changed, context, std::move(changed));
}

QObject* TLOnSessionBus(QObject* parent, std::function<void(QDBusConnection, QObject*)> make,
                        std::function<void()> changed) {
    return new OnSessionBus(parent, std::move(make), std::move(changed));
}

#include "TLSessionBus.moc"
