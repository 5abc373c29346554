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
#include <cstddef>
#include <cstring>
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

// A running copy on its own thread is asked to quit by a new one, which then holds the name.
TEST(SingleInstance, ANewCopyReplacesTheRunningOne) {
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
    const QByteArray name = instance.serverName().toUtf8();
    const size_t offset = instance.usesAbstractName() ? 1 : 0;
    std::memcpy(addr.sun_path + offset, name.constData(), static_cast<size_t>(name.size()));
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                            static_cast<size_t>(name.size()) + (offset ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return fd;
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

// The socket is a file in the user's private runtime directory, which no other user can take
// first; the abstract name is only the fallback where that directory is missing or open to others.
TEST(SingleInstance, PrefersASocketInThePrivateRuntimeDirectory) {
    const QString id = uniqueId();
    {
        RuntimeDir runtime;
        TLSingleInstance instance(id);
        EXPECT_FALSE(instance.usesAbstractName());
        EXPECT_EQ(instance.serverName(), runtime.path() + "/" + id + ".socket");
        instance.start();
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
    {
        RuntimeDir open(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                        QFile::WriteOther | QFile::ExeOther);
        EXPECT_TRUE(TLSingleInstance(id).usesAbstractName());
    }
    {
        RuntimeDir runtime;
        qunsetenv("XDG_RUNTIME_DIR");
        TLSingleInstance instance(id);
        EXPECT_TRUE(instance.usesAbstractName());
        EXPECT_EQ(instance.serverName(), QStringLiteral("%1.%2").arg(id).arg(::getuid()));
    }
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
