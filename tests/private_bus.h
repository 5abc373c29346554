#pragma once
// A session bus of a test's own (a dbus-daemon ended with it), and waiting for what arrives over
// it with the event loop running.

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <functional>

namespace {

// Runs `until` through the event loop for at most `ms`; returns whether it became true.
bool spin(const std::function<bool()>& until, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!until()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Lets whatever is under way arrive (signals that should not come).
void settle() {
    spin([] { return false; }, 250);
}

// A session bus of the test's own, ended with it.
class PrivateBus {
public:
    PrivateBus() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
        _daemon.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
        if (!_daemon.waitForStarted(5000)) return;
        QByteArray out;
        while (!out.contains('\n') && _daemon.waitForReadyRead(5000))
            out += _daemon.readAllStandardOutput();
        _address = QString::fromUtf8(out).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : _names)
            QDBusConnection::disconnectFromBus(name);
        if (_daemon.state() != QProcess::NotRunning) {
            _daemon.terminate();
            if (!_daemon.waitForFinished(3000)) {
                _daemon.kill();
                _daemon.waitForFinished(3000);
            }
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return !_address.isEmpty(); }
    // A new connection of its own (a unique name on the bus).
    QDBusConnection connect() {
        static int n = 0;
        const QString name = QStringLiteral("tide-test-%1").arg(++n);
        _names.append(name);
        return QDBusConnection::connectToBus(_address, name);
    }
    void disconnect(const QDBusConnection& c) {
        _names.removeAll(c.name());
        QDBusConnection::disconnectFromBus(c.name());
    }

private:
    QProcess _daemon;
    QString _address;
    QStringList _names;
};

} // namespace
