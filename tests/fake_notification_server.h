#pragma once
// A notification server of the tests' own: it answers GetCapabilities, records every Notify and
// can report an action or a closing the way a desktop's server does.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <vector>

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Received {
        uint id = 0;
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
        qint64 atMs = 0; // since the server started
    };

    explicit FakeNotificationServer(const QDBusConnection& bus, bool actions = true)
        : _bus(bus), _actions(actions) {
        _clock.start();
    }
    // Takes the well-known name; false when that fails.
    bool start() {
        return _bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                   QDBusConnection::ExportAllSlots) &&
               _bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    // What a server does when the user clicks an action: the action, then the closing.
    void invoke(uint id, const QString& key) {
        emitSignal(QStringLiteral("ActionInvoked"), {QVariant::fromValue(id), key});
        emitSignal(QStringLiteral("NotificationClosed"), {QVariant::fromValue(id), 2u});
    }
    void close(uint id) {
        emitSignal(QStringLiteral("NotificationClosed"), {QVariant::fromValue(id), 3u});
    }

    std::vector<Received> received;
    std::function<void(const Received&)> onNotify;

public slots:
    QStringList GetCapabilities() {
        QStringList caps{QStringLiteral("body")};
        if (_actions) caps << QStringLiteral("actions");
        return caps;
    }
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout) {
        Received r{replacesId ? replacesId : ++_lastId,
                   appName,
                   replacesId,
                   appIcon,
                   summary,
                   body,
                   actions,
                   hints,
                   timeout,
                   _clock.elapsed()};
        received.push_back(r);
        if (onNotify) onNotify(r);
        return r.id;
    }
    void CloseNotification(uint id) { close(id); }
    QString GetServerInformation(QString& vendor, QString& version, QString& spec) {
        vendor = QStringLiteral("tide tests");
        version = QStringLiteral("1");
        spec = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

private:
    void emitSignal(const QString& name, const QVariantList& args) {
        QDBusMessage s =
            QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                       QStringLiteral("org.freedesktop.Notifications"), name);
        s.setArguments(args);
        _bus.send(s);
    }

    QDBusConnection _bus;
    bool _actions;
    uint _lastId = 0;
    QElapsedTimer _clock;
};
