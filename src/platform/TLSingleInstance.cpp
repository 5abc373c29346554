#include "platform/TLSingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr char kQuitMessage[] = "quit\n";
constexpr int kConnectTimeoutMs = 500;

#ifdef __linux__
// The peer's user id, from the kernel's credentials of the connection.
bool samePeerUser(qintptr fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return cred.uid == ::getuid();
}
#else
bool samePeerUser(qintptr fd) {
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(static_cast<int>(fd), &uid, &gid) == 0 && uid == ::getuid();
}
#endif
} // namespace

TLSingleInstance::TLSingleInstance(const QString& appId, QObject* parent)
    : QObject(parent), _name(QStringLiteral("%1.%2").arg(appId).arg(::getuid())) {}

TLSingleInstance::~TLSingleInstance() = default;

bool TLSingleInstance::isListening() const {
    return _server && _server->isListening();
}

void TLSingleInstance::start() {
    {
        QLocalSocket socket;
#ifdef __linux__
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
#endif
        socket.connectToServer(_name);
        if (socket.waitForConnected(kConnectTimeoutMs)) {
            socket.write(kQuitMessage);
            socket.waitForBytesWritten(kConnectTimeoutMs);
            // Give the old copy a moment to quit and release the name.
            socket.waitForDisconnected(2000);
        }
    }
    if (tryListen()) return;
    // The old copy is still shutting down (or hung): keep trying for a while.
    auto* timer = new QTimer(this);
    timer->setInterval(500);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        if (tryListen() || ++_retries >= 120) timer->deleteLater();
    });
    timer->start();
}

bool TLSingleInstance::tryListen() {
    if (!_server) {
        _server = new QLocalServer(this);
#ifdef __linux__
        _server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
#else
        _server->setSocketOptions(QLocalServer::UserAccessOption);
#endif
        connect(_server, &QLocalServer::newConnection, this, &TLSingleInstance::onNewConnection);
    }
    if (_server->isListening()) return true;
#ifndef __linux__
    QLocalServer::removeServer(_name);
#endif
    return _server->listen(_name);
}

void TLSingleInstance::onNewConnection() {
    while (QLocalSocket* socket = _server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!samePeerUser(socket->socketDescriptor())) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) return;
            if (socket->readLine() == kQuitMessage) {
                emit quitRequested();
                // Release the name at once, so the new copy can take it.
                _server->close();
                socket->disconnectFromServer();
            }
        });
    }
}
