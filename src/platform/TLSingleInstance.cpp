#include "platform/TLSingleInstance.h"

#include "os/posix/TLFd.h"

#include <QByteArray>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {
constexpr char kQuitMessage[] = "quit\n";
constexpr char kToggleVerb[] = "toggle";
constexpr char kShowVerb[] = "show";
constexpr char kAcceptedAnswer[] = "ok\n";
constexpr int kConnectTimeoutMs = 500;
constexpr int kQuitWaitMs = 2000;
constexpr int kAcceptRetryMs = 200;

// The peer's user id, from the kernel's credentials of the connection.
bool samePeerUser(int fd) {
#ifdef __linux__
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return cred.uid == ::getuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(fd, &uid, &gid) == 0 && uid == ::getuid();
#endif
}

// The address of a socket file. False when there is no path or it is too long.
bool makeAddress(const QByteArray& path, sockaddr_un& addr, socklen_t& len) {
    addr = {};
    addr.sun_family = AF_UNIX;
    const auto size = static_cast<size_t>(path.size());
    if (size == 0 || size + 1 > sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.constData(), size);
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size + 1);
    return true;
}

void warn(const QString& text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
}

#ifndef SOCK_CLOEXEC
// Where sockets cannot be given these flags as they are made (macOS), they get them right after;
// the program starts no other program in between.
void setCloseOnExec(int fd, bool nonBlocking) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (nonBlocking) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}
#endif

// A local stream socket that is not inherited by programs Tide starts.
int localSocket(bool nonBlocking) {
#ifdef SOCK_CLOEXEC
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
#else
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0) setCloseOnExec(fd, nonBlocking);
    return fd;
#endif
}

// The next waiting connection, non-blocking and not inherited, or -1 with errno set.
int acceptPeer(int listenFd) {
#ifdef SOCK_CLOEXEC
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
#else
    const int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd >= 0) setCloseOnExec(fd, true);
    return fd;
#endif
}

int newSocket() {
    return localSocket(true);
}

// Writes all of `data` to a blocking socket; false when the peer went or a send timed out.
bool sendAll(int fd, const QByteArray& data) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + sent,
                                 static_cast<size_t>(data.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += n;
    }
    return true;
}

// Reads the peer's first line within `timeoutMs`; empty when it hangs up or stays silent.
QByteArray readAnswer(int fd, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < 64) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return {};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return {};
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        answer.append(buf, n);
    }
    return answer.left(answer.indexOf('\n') + 1);
}

// A blocking connection to a copy listening at `path`, if it is this user's; none otherwise. A
// listener of another user is no copy of this one, whatever it answers.
TLFd connectToRunningCopy(const QString& path, int timeoutMs) {
    sockaddr_un addr;
    socklen_t len = 0;
    if (!makeAddress(QFile::encodeName(path), addr, len)) return {};
    TLFd fd(localSocket(false));
    if (!fd.valid()) return {};
    const timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0 ||
        !samePeerUser(fd.get()))
        return {};
    return fd;
}

} // namespace

struct TLSingleInstance::Peer {
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    QByteArray pending; // an incomplete line
    int received = 0;
    ~Peer() {
        hangUp();
        delete notifier;
    }
    void hangUp() {
        if (notifier) notifier->setEnabled(false);
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

TLSingleInstance::TLSingleInstance(const QString& appId, QObject* parent)
    : TLSingleInstance(appId, TLRendezvousDirs(), parent) {}

TLSingleInstance::TLSingleInstance(const QString& appId, std::vector<TLRendezvousDir> dirs,
                                   QObject* parent)
    : QObject(parent), _socketName(appId + QStringLiteral(".socket")), _dirs(std::move(dirs)) {}

TLSingleInstance::~TLSingleInstance() {
    _peers.clear();
    _closed.clear();
    closeListener();
}

bool TLSingleInstance::isListening() const {
    return _listenFd >= 0;
}

void TLSingleInstance::start() {
    const TLRendezvous rendezvous = TLFindRendezvous(_socketName, _dirs, true);
    _name = rendezvous.listenPath;
    _lookPaths = rendezvous.lookPaths;
    for (const QString& refused : rendezvous.refused)
        warn(QStringLiteral("tide: the socket by which later starts find this one is not put in ") +
             refused);
    askRunningCopyToQuit();
    if (_name.isEmpty()) {
        warn(QStringLiteral("tide: no directory of this user alone to put the socket in by which "
                            "later starts find this one; this copy runs on its own: a later start "
                            "does not replace it, and `tide --toggle` does not reach it"));
        return;
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

// Every copy found is asked, wherever it listens.
void TLSingleInstance::askRunningCopyToQuit() {
    for (const QString& path : _lookPaths) {
        const TLFd fd = connectToRunningCopy(path, kConnectTimeoutMs);
        if (!fd.valid() ||
            ::send(fd.get(), kQuitMessage, sizeof kQuitMessage - 1, MSG_NOSIGNAL) <= 0)
            continue;
        // Give the old copy a moment to quit and release the name: it hangs up when it has.
        pollfd p{fd.get(), POLLIN, 0};
        char buf[64];
        while (::poll(&p, 1, kQuitWaitMs) > 0 && ::read(fd.get(), buf, sizeof buf) > 0) {
        }
    }
}

bool TLSingleInstance::isActivationToken(const QByteArray& token) {
    return !token.isEmpty() && token.size() <= kMaxTokenBytes &&
           std::all_of(token.cbegin(), token.cend(), [](char c) { return c > 0x20 && c < 0x7f; });
}

// The first copy found gets the request; nothing is made or changed to look for it.
bool TLSingleInstance::sendRequest(Request request, const QByteArray& activationToken) const {
    QByteArray line = request == Request::Toggle ? kToggleVerb : kShowVerb;
    if (isActivationToken(activationToken)) line += ' ' + activationToken;
    line += '\n';
    for (const QString& path : TLFindRendezvous(_socketName, _dirs, false).lookPaths) {
        const TLFd fd = connectToRunningCopy(path, kConnectTimeoutMs);
        if (fd.valid())
            return sendAll(fd.get(), line) &&
                   readAnswer(fd.get(), kAnswerWaitMs) == QByteArray(kAcceptedAnswer);
    }
    return false;
}

bool TLSingleInstance::tryListen() {
    if (_listenFd >= 0) return true;
    const QByteArray name = QFile::encodeName(_name);
    sockaddr_un addr;
    socklen_t len = 0;
    if (!makeAddress(name, addr, len)) return false;
    // The directory is this user's alone, but it may have been open to others before: anything
    // at the name that is not this user's socket is no copy of this program, and goes.
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0 && (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()))
        ::unlink(name.constData());
    int fd = newSocket();
    if (fd < 0) return false;
    int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len);
    if (bound != 0 && errno == EADDRINUSE) {
        // A socket file is there: a running copy, or one left by a copy that crashed. Only a
        // file nobody listens on, or another user, is removed.
        const TLFd probe(localSocket(false));
        const bool stale =
            probe.valid() &&
            (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0
                 ? errno == ECONNREFUSED
                 : !samePeerUser(probe.get()));
        if (stale && ::unlink(name.constData()) == 0)
            bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len);
    }
    if (bound != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return false;
    }
    _listenFd = fd;
    if (::lstat(name.constData(), &st) == 0) _socketInode = st.st_ino;
    _notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &TLSingleInstance::acceptPending);
    return true;
}

void TLSingleInstance::closeListener() {
    delete _notifier;
    _notifier = nullptr;
    delete _acceptRetry;
    _acceptRetry = nullptr;
    if (_listenFd < 0) return;
    ::close(_listenFd);
    _listenFd = -1;
    if (_socketInode != 0) {
        // Remove the file only if it is still ours, not one a newer copy has put there.
        const QByteArray path = QFile::encodeName(_name);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && st.st_ino == _socketInode)
            ::unlink(path.constData());
        _socketInode = 0;
    }
}

// Called while the process may be out of file descriptors, where UndefinedBehaviorSanitizer's own
// type check of a member call (which needs a pipe to probe memory) fails and reports a false
// "invalid vptr": that one check is off here.
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
static void
setNotifierEnabled(QSocketNotifier* notifier, bool enabled) {
    if (notifier) notifier->setEnabled(enabled);
}

// Out of descriptors or memory: the connection waits in the backlog. Listening goes on; the
// notifier rests meanwhile so that it does not spin. (No vptr check: see above.)
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
void TLSingleInstance::restAccepting() {
    setNotifierEnabled(_notifier, false);
    if (!_acceptRetry) {
        _acceptRetry = new QTimer(this);
        _acceptRetry->setSingleShot(true);
        _acceptRetry->setInterval(kAcceptRetryMs);
        connect(_acceptRetry, &QTimer::timeout, this,
                [this] { setNotifierEnabled(_notifier, true); });
    }
    _acceptRetry->start();
}

void TLSingleInstance::acceptPending() {
    _closed.clear();
    while (_listenFd >= 0) {
        const int fd = acceptPeer(_listenFd);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            restAccepting();
            return;
        }
        if (!samePeerUser(fd)) {
            ::close(fd);
            continue;
        }
        if (_peers.size() >= kMaxPeers) dropPeer(_peers.front().get());
        auto peer = std::make_unique<Peer>();
        peer->fd = fd;
        peer->notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        Peer* raw = peer.get();
        connect(peer->notifier, &QSocketNotifier::activated, this, [this, raw] { readPeer(raw); });
        _peers.push_back(std::move(peer));
    }
}

void TLSingleInstance::readPeer(Peer* peer) {
    _closed.clear(); // peers closed in earlier signals; this one is not among them
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(peer->fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) break; // closed or failed
        peer->received += static_cast<int>(n);
        if (peer->received > kMaxPeerBytes) break; // a flood: cut off
        peer->pending.append(buf, n);
        qsizetype nl;
        while ((nl = peer->pending.indexOf('\n')) >= 0) {
            const QByteArray line = peer->pending.left(nl + 1);
            peer->pending.remove(0, nl + 1);
            if (line == kQuitMessage) {
                // Release the name at once, so the new copy can take it; hang up once this copy
                // has been told, which the new copy waits for.
                closeListener();
                emit quitRequested();
                while (!_peers.empty())
                    dropPeer(_peers.front().get());
                return;
            }
            answerRequest(peer, line); // anything else is no request: ignored
        }
    }
    dropPeer(peer);
}

// "toggle" or "show", then perhaps a space and a token; `line` still ends in its line break.
bool TLSingleInstance::answerRequest(Peer* peer, const QByteArray& line) {
    const QByteArray body = line.chopped(1);
    const qsizetype space = body.indexOf(' ');
    const QByteArray verb = space < 0 ? body : body.left(space);
    const QByteArray token = space < 0 ? QByteArray() : body.mid(space + 1);
    const bool toggle = verb == kToggleVerb;
    if ((!toggle && verb != kShowVerb) || (space >= 0 && !isActivationToken(token))) return false;
    // The answer fits in any socket buffer; a sender that has gone misses it.
    [[maybe_unused]] const ssize_t n =
        ::send(peer->fd, kAcceptedAnswer, sizeof kAcceptedAnswer - 1, MSG_NOSIGNAL);
    // Acted on from the event loop: what the request opens must not run inside this read.
    QMetaObject::invokeMethod(
        this,
        [this, toggle, token = QString::fromLatin1(token)] {
            if (toggle)
                emit toggleRequested(token);
            else
                emit showRequested(token);
        },
        Qt::QueuedConnection);
    return true;
}

// Hangs up at once; the peer's notifier, which may be the one whose signal is running, is deleted
// at the next signal or with this object.
void TLSingleInstance::dropPeer(Peer* peer) {
    for (auto it = _peers.begin(); it != _peers.end(); ++it)
        if (it->get() == peer) {
            peer->hangUp();
            _closed.push_back(std::move(*it));
            _peers.erase(it);
            return;
        }
}
