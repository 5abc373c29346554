// tide-test-notification-server: a notification server for the end-to-end test, on the session
// bus of its environment. Prints one JSON line for each Notify; `dev.tide.TestNotifications.Invoke`
// (id, key) on /test makes it report that action as a desktop's server does when the user clicks.
// With --no-actions it does not list the "actions" capability.
// `--oomd-killed CGROUP REASON` instead stands for systemd-oomd: it takes org.freedesktop.oom1 on
// the system bus of its environment, sends Killed(CGROUP, REASON) from
// /org/freedesktop/oom1 and exits.

#include "fake_notification_server.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

class Control : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "dev.tide.TestNotifications")
public:
    explicit Control(FakeNotificationServer& server) : _server(server) {}
public slots:
    void Invoke(uint id, const QString& key) { _server.invoke(id, key); }

private:
    FakeNotificationServer& _server;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--oomd-killed")) {
        QDBusConnection system = QDBusConnection::systemBus();
        if (!system.registerService(QStringLiteral("org.freedesktop.oom1"))) {
            std::fprintf(stderr, "cannot take org.freedesktop.oom1 on the system bus\n");
            return 1;
        }
        QDBusMessage killed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/oom1"),
                                                         QStringLiteral("org.freedesktop.oom1.Manager"),
                                                         QStringLiteral("Killed"));
        killed << args[2] << args[3];
        if (!system.send(killed)) return 1;
        system.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                   QStringLiteral("/org/freedesktop/DBus"),
                                                   QStringLiteral("org.freedesktop.DBus"),
                                                   QStringLiteral("GetId"))); // flushed
        return 0;
    }
    const bool actions = !args.contains(QStringLiteral("--no-actions"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakeNotificationServer server(bus, actions);
    Control control(server);
    server.onNotify = [](const FakeNotificationServer::Received& r) {
        QJsonObject o{{QStringLiteral("id"), static_cast<qint64>(r.id)},
                      {QStringLiteral("app"), r.appName},
                      {QStringLiteral("replaces"), static_cast<qint64>(r.replacesId)},
                      {QStringLiteral("summary"), r.summary},
                      {QStringLiteral("body"), r.body},
                      {QStringLiteral("actions"), QJsonArray::fromStringList(r.actions)},
                      {QStringLiteral("urgency"), r.hints.value(QStringLiteral("urgency")).toInt()},
                      {QStringLiteral("urgencyType"),
                       QString::fromLatin1(r.hints.value(QStringLiteral("urgency")).typeName())},
                      {QStringLiteral("epochMs"), QDateTime::currentMSecsSinceEpoch()}};
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    };
    if (!bus.registerObject(QStringLiteral("/test"), &control, QDBusConnection::ExportAllSlots) ||
        !server.start()) {
        std::fprintf(stderr, "cannot take org.freedesktop.Notifications on the session bus\n");
        return 1;
    }
    return app.exec();
}

#include "notification_server.moc"
