#include "platform/TLRendezvous.h"
#include "platform/TLSingleInstance.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;

QByteArray local(const QString& path) {
    return QFile::encodeName(path);
}

// The directory made with `mode` (the umask aside); false when it could not be.
bool makeDir(const QString& path, mode_t mode) {
    return ::mkdir(local(path).constData(), 0700) == 0 &&
           ::chmod(local(path).constData(), mode) == 0;
}

// Readable in a failure.
std::vector<std::string> strings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(local(path).constData(), &st);
    return st;
}

// A listener of another user at `path` that answers "ok" to what every peer sends, in a child
// process that ends with this object. The socket file is this user's with `ownFile`, else the other
// user's.
class ForeignListener {
public:
    ForeignListener(const QString& path, bool ownFile) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        const QByteArray name = local(path);
        _pid = ::fork();
        if (_pid == 0) {
            ::close(ready[0]);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::memcpy(addr.sun_path, name.constData(), static_cast<size_t>(name.size()));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const auto bindTo = [&] {
                return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
            };
            if ((ownFile && !bindTo()) || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
                (!ownFile && !bindTo()) || ::listen(fd, 8) != 0 || ::write(ready[1], "r", 1) != 1)
                ::_exit(1);
            char line[256];
            for (int peer; (peer = ::accept(fd, nullptr, nullptr)) >= 0; ::close(peer))
                if (::read(peer, line, sizeof line) > 0) ::send(peer, "ok\n", 3, MSG_NOSIGNAL);
            ::_exit(0);
        }
        ::close(ready[1]);
        char c = 0;
        _listening = _pid > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~ForeignListener() {
        if (_pid <= 0) return;
        ::kill(_pid, SIGKILL);
        ::waitpid(_pid, nullptr, 0);
    }
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;
    bool listening() const { return _listening; }

private:
    pid_t _pid = -1;
    bool _listening = false;
};

} // namespace

// Only a directory of this user's alone serves: another user's, a link, one open to others and
// one too deep for a socket's path are passed over with the reason, and Tide's own is made
// private when missing. Past the first that serves, directories are only looked at (none past a
// runtime directory); and a start that only sends a request makes nothing.
TEST(Rendezvous, OnlyADirectoryOfThisUserAloneServes) {
    QTemporaryDir base;
    const QString b = base.path();
    const bool root = ::getuid() == 0;
    ASSERT_TRUE(makeDir(b + "/foreign", 0700));
    if (root) {
        ASSERT_EQ(::chown(local(b + "/foreign").constData(), kNobody, kNobody), 0);
    }
    ASSERT_TRUE(makeDir(b + "/target", 0700));
    ASSERT_EQ(::symlink(local(b + "/target").constData(), local(b + "/link").constData()), 0);
    ASSERT_TRUE(makeDir(b + "/open", 0755));
    const QString deep = b + "/" + QString(120, u'd');
    ASSERT_TRUE(makeDir(b + "/later", 0700));
    ASSERT_TRUE(makeDir(b + "/laterOpen", 0755));
    const std::vector<TLRendezvousDir> dirs = {{b + "/foreign", true}, {b + "/link", true},
                                               {b + "/open", false},   {deep, true},
                                               {b + "/made", true},    {b + "/laterOpen", true},
                                               {b + "/later", false},  {b + "/missing", true}};

    const TLRendezvous asked = TLFindRendezvous("x.socket", dirs, false);
    EXPECT_EQ(strings(asked.lookPaths), strings({b + "/later/x.socket"}));
    EXPECT_NE(::access(local(b + "/made").constData(), F_OK), 0);

    const TLRendezvous found = TLFindRendezvous("x.socket", dirs, true);
    EXPECT_EQ(found.listenPath.toStdString(), (b + "/made/x.socket").toStdString());
    EXPECT_EQ(strings(found.lookPaths), strings({b + "/made/x.socket", b + "/later/x.socket"}));
    QStringList refused = {b + "/link: a link or not a directory", b + "/open: open to other users",
                           deep + ": too long a path for a socket"};
    if (root) refused.prepend(b + "/foreign: owned by another user");
    EXPECT_EQ(strings(found.refused), strings(refused));
    EXPECT_EQ(statOf(b + "/made").st_mode & 07777, 0700u);
    // What is passed over is left as it was.
    EXPECT_EQ(statOf(b + "/open").st_mode & 07777, 0755u);
    EXPECT_EQ(statOf(b + "/laterOpen").st_mode & 07777, 0755u);
    EXPECT_TRUE(S_ISLNK(statOf(b + "/link").st_mode));
    if (root) {
        EXPECT_EQ(statOf(b + "/foreign").st_uid, kNobody);
    }
    EXPECT_NE(::access(local(b + "/missing").constData(), F_OK), 0);
    // A runtime directory that serves is the only place looked at.
    const TLRendezvous runtime =
        TLFindRendezvous("x.socket", {{b + "/made", false, true}, {b + "/later", false}}, false);
    EXPECT_EQ(strings(runtime.lookPaths), strings({b + "/made/x.socket"}));
}

// Another user's listener at the socket's name answers every request, but is no running copy: a
// request is not taken as answered, and a start takes the name. Its socket file may be this
// user's (bound before the listener changed user), or the other user's, left while Tide's own
// directory was open to others, which the start closes again.
TEST(Rendezvous, AnotherUsersListenerIsNoRunningCopy) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    QTemporaryDir base;
    ASSERT_EQ(::chmod(local(base.path()).constData(), 0711), 0);
    for (bool ownFile : {true, false}) {
        const QString dir = base.path() + (ownFile ? "/own" : "/open");
        ASSERT_TRUE(makeDir(dir, ownFile ? 0700 : 0777));
        const QString path = dir + "/dev.tide.test.socket";
        ForeignListener squatter(path, ownFile);
        ASSERT_TRUE(squatter.listening());
        ASSERT_EQ(statOf(path).st_uid, ownFile ? ::getuid() : kNobody);

        TLSingleInstance instance("dev.tide.test", {{dir, true}});
        EXPECT_FALSE(instance.sendRequest(TLSingleInstance::Request::Show)) << ownFile;
        instance.start();
        EXPECT_TRUE(instance.isListening()) << ownFile;
        EXPECT_EQ(instance.serverName().toStdString(), path.toStdString());
        EXPECT_EQ(statOf(path).st_uid, ::getuid());
        EXPECT_TRUE(S_ISSOCK(statOf(path).st_mode));
        EXPECT_EQ(statOf(dir).st_mode & 07777, 0700u);
    }
}
