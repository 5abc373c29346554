#include "platform/TLSingleInstance.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
QString uniqueId() {
    return QStringLiteral("dev.tide.test.%1.%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch());
}
} // namespace

namespace {

// A private XDG_RUNTIME_DIR for the duration of a test.
class RuntimeDir {
public:
    explicit RuntimeDir(QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner) {
        _old = qgetenv("XDG_RUNTIME_DIR");
        _hadOld = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        QFile::setPermissions(_dir.path(), permissions);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(_dir.path()));
    }
    ~RuntimeDir() {
        if (_hadOld)
            qputenv("XDG_RUNTIME_DIR", _old);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
    QString path() const { return _dir.path(); }

private:
    QTemporaryDir _dir;
    QByteArray _old;
    bool _hadOld = false;
};

// A raw client of an instance's socket.
int connectTo(const TLSingleInstance& instance) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(instance.serverName());
    std::memcpy(addr.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// Runs the event loop until `done` holds or `ms` have passed.
template <typename Done>
bool spinUntil(Done done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

} // namespace

// A running copy on its own thread is asked to quit by a new one, which then holds the name.
TEST(SingleInstance, ANewCopyReplacesTheRunningOne) {
    RuntimeDir runtime;
    const QString id = uniqueId();
    QThread oldThread;
    auto* old = new TLSingleInstance(id);
    std::atomic<bool> oldListening{false};
    std::atomic<bool> quitAsked{false};
    old->moveToThread(&oldThread);
    QObject::connect(old, &TLSingleInstance::quitRequested, old, [&] { quitAsked = true; });
    QObject::connect(&oldThread, &QThread::finished, old, &QObject::deleteLater);
    oldThread.start();
    QMetaObject::invokeMethod(
        old,
        [&] {
            old->start();
            oldListening = old->isListening();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(oldListening);

    TLSingleInstance fresh(id);
    fresh.start();
    EXPECT_TRUE(quitAsked);
    EXPECT_TRUE(fresh.isListening());
    oldThread.quit();
    oldThread.wait();
}

// Nothing running, and nothing left over from a copy that died: the first start listens at once.
TEST(SingleInstance, FirstStartListensAtOnce) {
    RuntimeDir runtime;
    const QString id = uniqueId();
    {
        TLSingleInstance crashed(id);
        crashed.start();
        ASSERT_TRUE(crashed.isListening());
    } // gone without any goodbye, as after a crash
    TLSingleInstance next(id);
    next.start();
    EXPECT_TRUE(next.isListening());
}

// The socket is a file in the user's private runtime directory, which no other user can take
// first.
TEST(SingleInstance, PrefersASocketInThePrivateRuntimeDirectory) {
    const QString id = uniqueId();
    RuntimeDir runtime;
    TLSingleInstance instance(id);
    instance.start();
    EXPECT_EQ(instance.serverName(), runtime.path() + "/" + id + ".socket");
    ASSERT_TRUE(instance.isListening());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(instance.serverName()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));

    // A second copy finds the first through the same file and takes over.
    bool quitAsked = false;
    QObject::connect(&instance, &TLSingleInstance::quitRequested, [&] { quitAsked = true; });
    const int fd = connectTo(instance);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, "quit\n", 5, MSG_NOSIGNAL), 5);
    EXPECT_TRUE(spinUntil([&] { return quitAsked; }));
    EXPECT_FALSE(instance.isListening());
    ::close(fd);
    // The file went with the name.
    EXPECT_NE(::stat(QFile::encodeName(instance.serverName()).constData(), &st), 0);
}

// A socket file left behind by a copy that crashed does not stand in the way of the next start.
TEST(SingleInstance, AStaleSocketFileIsReplaced) {
    RuntimeDir runtime;
    const QString id = uniqueId();
    const QByteArray path = QFile::encodeName(runtime.path() + "/" + id + ".socket");
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale); // the file stays, nobody listens
    TLSingleInstance next(id);
    next.start();
    EXPECT_TRUE(next.isListening());
}

// "garbage\nquit\n" in one write: every line is read, and the quit is honoured.
TEST(SingleInstance, EveryLineOfAWriteIsRead) {
    RuntimeDir runtime;
    TLSingleInstance instance(uniqueId());
    instance.start();
    ASSERT_TRUE(instance.isListening());
    bool quitAsked = false;
    QObject::connect(&instance, &TLSingleInstance::quitRequested, [&] { quitAsked = true; });
    const int fd = connectTo(instance);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, "garbage\nquit\n", 13, MSG_NOSIGNAL), 13);
    EXPECT_TRUE(spinUntil([&] { return quitAsked; }));
    ::close(fd);
}

// A peer that sends without end is cut off after a few KiB instead of being buffered.
TEST(SingleInstance, AFloodingPeerIsCutOff) {
    RuntimeDir runtime;
    TLSingleInstance instance(uniqueId());
    instance.start();
    ASSERT_TRUE(instance.isListening());
    const int fd = connectTo(instance);
    ASSERT_GE(fd, 0);
    constexpr size_t kFlood = size_t{64} << 20;
    std::atomic<size_t> sent{0};
    std::atomic<bool> finished{false};
    std::thread flooder([&] {
        const std::string chunk(65536, 'x');
        while (sent < kFlood) {
            const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        finished = true;
    });
    spinUntil([&] { return finished.load(); }, 20000);
    if (!finished) ::shutdown(fd, SHUT_RDWR);
    flooder.join();
    ::close(fd);
    EXPECT_LT(sent.load(), kFlood); // the connection was closed on the flood
    EXPECT_TRUE(instance.isListening());
}

// Out of file descriptors, accept fails: the instance keeps listening and takes the waiting
// connection once descriptors are free again, so no second copy can start beside it.
TEST(SingleInstance, ListeningSurvivesAFailedAccept) {
    RuntimeDir runtime;
    TLSingleInstance instance(uniqueId());
    instance.start();
    ASSERT_TRUE(instance.isListening());
    bool quitAsked = false;
    QObject::connect(&instance, &TLSingleInstance::quitRequested, [&] { quitAsked = true; });

    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 1024);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const int client = connectTo(instance); // waits in the backlog
    ASSERT_GE(client, 0);
    std::vector<int> hog;
    for (int fd; (fd = ::dup(client)) >= 0;)
        hog.push_back(fd);
    ASSERT_EQ(errno, EMFILE);
    for (int i = 0; i < 20; ++i) { // accept fails meanwhile
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    const bool listeningWhileOut = instance.isListening();
    for (int fd : hog)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(listeningWhileOut);
    EXPECT_TRUE(instance.isListening());
    ASSERT_EQ(::send(client, "quit\n", 5, MSG_NOSIGNAL), 5);
    EXPECT_TRUE(spinUntil([&] { return quitAsked; }));
    ::close(client);
}

namespace {

// An instance listening on a thread of its own, as a running copy would, so that the test's
// thread can block in sendRequest. Counts what it is asked.
class RunningCopy {
public:
    explicit RunningCopy(const QString& id, std::vector<TLRendezvousDir> dirs)
        : _instance(new TLSingleInstance(id, std::move(dirs))) {
        _instance->moveToThread(&_thread);
        QObject::connect(_instance, &TLSingleInstance::toggleRequested, _instance,
                         [this](const QString& token) { record("toggle", token); });
        QObject::connect(_instance, &TLSingleInstance::showRequested, _instance,
                         [this](const QString& token) { record("show", token); });
        QObject::connect(_instance, &TLSingleInstance::quitRequested, _instance,
                         [this] { record("quit", {}); });
        QObject::connect(&_thread, &QThread::finished, _instance, &QObject::deleteLater);
        _thread.start();
        QMetaObject::invokeMethod(
            _instance,
            [this] {
                _instance->start();
                _listening = _instance->isListening();
            },
            Qt::BlockingQueuedConnection);
    }
    ~RunningCopy() {
        _thread.quit();
        _thread.wait();
    }
    bool listening() const { return _listening; }
    bool stillListening() {
        bool listening = false;
        QMetaObject::invokeMethod(
            _instance, [&] { listening = _instance->isListening(); }, Qt::BlockingQueuedConnection);
        return listening;
    }
    // "verb token" for each request received, in order.
    std::vector<std::string> received() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _received;
    }

private:
    void record(const char* verb, const QString& token) {
        std::lock_guard<std::mutex> lock(_mutex);
        _received.push_back(std::string(verb) + ' ' + token.toStdString());
    }
    QThread _thread;
    TLSingleInstance* _instance;
    std::atomic<bool> _listening{false};
    std::mutex _mutex;
    std::vector<std::string> _received;
};

// What a raw client has been sent so far.
std::string readSoFar(int fd) {
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        text.append(buf, static_cast<size_t>(n));
    return text;
}

} // namespace

// `tide --toggle` and `tide --show` reach the running copy, which answers and keeps running; the
// token travels with them. A plain start still replaces it afterwards. Also where the running
// copy listens in a later directory than the one the others would choose (it started while the
// first was missing): they look there too.
TEST(SingleInstance, ARunningCopyAnswersToggleAndShowAndStays) {
    for (bool later : {false, true}) {
        RuntimeDir runtime;
        const QString id = uniqueId();
        const QString first = runtime.path() + "/first";
        const QString second = runtime.path() + "/second";
        ASSERT_EQ(::mkdir(QFile::encodeName(second).constData(), 0700), 0);
        const std::vector<TLRendezvousDir> dirs =
            later ? std::vector<TLRendezvousDir>{{first, false}, {second, false}}
                  : TLRendezvousDirs();
        RunningCopy running(id, dirs);
        ASSERT_TRUE(running.listening());
        if (later) {
            ASSERT_EQ(::mkdir(QFile::encodeName(first).constData(), 0700), 0);
        }

        const TLSingleInstance sender(id, dirs); // never started: it only asks
        EXPECT_TRUE(sender.sendRequest(TLSingleInstance::Request::Toggle, "kwin-token_42"));
        EXPECT_TRUE(sender.sendRequest(TLSingleInstance::Request::Show));
        // A token that is none (a space, a control character) is left out, not the request.
        EXPECT_TRUE(sender.sendRequest(TLSingleInstance::Request::Toggle, "two words"));
        EXPECT_TRUE(sender.sendRequest(TLSingleInstance::Request::Show, "bell\a"));
        const std::vector<std::string> expected = {"toggle kwin-token_42", "show ", "toggle ",
                                                   "show "};
        EXPECT_TRUE(spinUntil([&] { return running.received().size() >= expected.size(); }));
        EXPECT_EQ(running.received(), expected) << "later: " << later;
        EXPECT_TRUE(running.stillListening());

        TLSingleInstance fresh(id, dirs);
        fresh.start();
        EXPECT_TRUE(spinUntil([&] { return running.received().size() == expected.size() + 1; }));
        EXPECT_EQ(running.received().back(), "quit ");
        EXPECT_TRUE(fresh.isListening());
        EXPECT_EQ(fresh.serverName(), (later ? first : runtime.path()) + "/" + id + ".socket");
    }
}

// A request fails when nobody listens, and when what listens does not say "ok" in time: the sender
// then starts the monitor itself.
TEST(SingleInstance, ARequestNobodyAcceptsFails) {
    RuntimeDir runtime;
    const QString id = uniqueId();
    const TLSingleInstance sender(id);
    const QByteArray path = QFile::encodeName(runtime.path() + "/" + id + ".socket");
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(sender.sendRequest(TLSingleInstance::Request::Toggle));
    EXPECT_LT(t.elapsed(), 1000);

    // Something holds the name and reads the request, then answers `reply` (or nothing at all).
    for (const char* reply : {"", "no\n", "okay\n", "ok"}) {
        ::unlink(path.constData());
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
        ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(listener, 4), 0);
        std::string request;
        std::thread impostor([&] {
            const int peer = ::accept(listener, nullptr, nullptr);
            if (peer < 0) return;
            char buf[256];
            const ssize_t n = ::read(peer, buf, sizeof buf);
            if (n > 0) request.assign(buf, static_cast<size_t>(n));
            if (*reply) ::send(peer, reply, std::strlen(reply), MSG_NOSIGNAL);
            char rest;
            while (::read(peer, &rest, 1) > 0) { // held open until the sender gives up
            }
            ::close(peer);
        });
        t.restart();
        EXPECT_FALSE(sender.sendRequest(TLSingleInstance::Request::Show)) << reply;
        const qint64 waited = t.elapsed();
        impostor.join();
        ::close(listener);
        EXPECT_EQ(request, "show\n");
        // A wrong answer ends the wait at once; silence (or half an answer) lasts the bound.
        if (std::strchr(reply, '\n')) {
            EXPECT_LT(waited, 1000) << reply;
        } else {
            EXPECT_GE(waited, TLSingleInstance::kAnswerWaitMs - 100) << reply;
            EXPECT_LT(waited, TLSingleInstance::kAnswerWaitMs + 1500) << reply;
        }
    }
}

// The lines as they come over the socket: every request in a write is answered and acted on in
// order, garbage in between is skipped, and a malformed token makes the line no request.
TEST(SingleInstance, RequestLinesAreAnsweredInOrder) {
    RuntimeDir runtime;
    TLSingleInstance instance(uniqueId());
    instance.start();
    ASSERT_TRUE(instance.isListening());
    std::vector<std::string> received;
    QObject::connect(&instance, &TLSingleInstance::toggleRequested, [&](const QString& token) {
        received.push_back("toggle " + token.toStdString());
    });
    QObject::connect(&instance, &TLSingleInstance::showRequested, [&](const QString& token) {
        received.push_back("show " + token.toStdString());
    });
    bool quitAsked = false;
    QObject::connect(&instance, &TLSingleInstance::quitRequested, [&] { quitAsked = true; });

    const int fd = connectTo(instance);
    ASSERT_GE(fd, 0);
    const std::string tooLong(TLSingleInstance::kMaxTokenBytes + 1, 't');
    const std::string lines = "garbage\ntoggle\nTOGGLE\nshow  x\ntoggle " + tooLong +
                              "\nshow\x01\nshow abc=\ntoggle\r\nshow\n";
    ASSERT_EQ(::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(lines.size()));
    std::string answers;
    EXPECT_TRUE(spinUntil([&] {
        answers += readSoFar(fd);
        return received.size() >= 3;
    }));
    EXPECT_EQ(answers, "ok\nok\nok\n");
    EXPECT_EQ(received, (std::vector<std::string>{"toggle ", "show abc=", "show "}));
    EXPECT_FALSE(quitAsked);
    EXPECT_TRUE(instance.isListening());
    ::close(fd);

    // The longest token there may be still goes through.
    const std::string longest(TLSingleInstance::kMaxTokenBytes, 'k');
    EXPECT_TRUE(TLSingleInstance::isActivationToken(QByteArray::fromStdString(longest)));
    EXPECT_FALSE(TLSingleInstance::isActivationToken(QByteArray::fromStdString(tooLong)));
    EXPECT_FALSE(TLSingleInstance::isActivationToken("\xe6\xbd\xae"));
    EXPECT_FALSE(TLSingleInstance::isActivationToken(""));
}
