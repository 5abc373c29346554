// The kills the system makes for memory: the Linux sources (a memory.events file watched by
// inotify, systemd-oomd's signal on a private bus), who each kill was, and the one notification
// a burst of them makes.
#include "app_fakes.h"
#include "os/linux/TLCgroups.h"
#include "platform/linux/TLKillWatch.h"
#include "private_bus.h"

#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint64_t MB = 1ULL << 20;

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

TLProc proc(int32_t pid, const char* name, uint64_t megabytes) {
    TLProc p;
    p.pid = pid;
    p.startTime = 10;
    p.name = name;
    p.memory = megabytes * MB;
    return p;
}

} // namespace

TEST(KillWatch, TheSessionsCgroupAndItsKillCount) {
    EXPECT_EQ(TLUnifiedCgroupPath("12:memory:/x\n0::/user.slice/user-1000.slice/"
                                  "user@1000.service/app.slice/app-firefox-1.scope\n"),
              "/user.slice/user-1000.slice/user@1000.service/app.slice/app-firefox-1.scope");
    EXPECT_EQ(TLUnifiedCgroupPath("4:memory:/docker/abc\n"), "");
    EXPECT_EQ(TLSessionCgroup("/user.slice/user-1000.slice/user@1000.service/app.slice/a.scope"),
              "/user.slice/user-1000.slice/user@1000.service");
    EXPECT_EQ(TLSessionCgroup("/session-2/tide"), "/session-2"); // no systemd: below the root
    EXPECT_EQ(TLSessionCgroup("/"), "");
    EXPECT_EQ(TLCgroupLeaf("/user.slice/app.slice/app-gnome-firefox-1234.scope"),
              "app-gnome-firefox-1234.scope");
    uint64_t kills = 0;
    EXPECT_TRUE(
        TLParseOomKills("low 0\nhigh 3\nmax 9\noom 2\noom_kill 2\noom_group_kill 0\n", kills));
    EXPECT_EQ(kills, 2u);
    EXPECT_FALSE(TLParseOomKills("oom 2\n", kills));
    EXPECT_FALSE(TLParseOomKills("oom_kill -1\n", kills));
    EXPECT_FALSE(TLParseOomKills("oom_kill 12x\n", kills));
}

TEST(KillWatch, KernelKillsAreHeardFromMemoryEvents) {
    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("memory.events"));
    writeFile(events, "low 0\noom 1\noom_kill 1\n");
    TLLinuxKillWatch watch;
    std::vector<TLKillReport> reports;
    QObject::connect(&watch, &TLKillWatch::killed,
                     [&](const TLKillReport& r) { reports.push_back(r); });
    ASSERT_TRUE(watch.watchMemoryEvents(events));
    // Counted before the watch began: not a new kill. Then two at once, and a change of another
    // line that kills nobody.
    writeFile(events, "low 0\noom 3\noom_kill 3\n");
    ASSERT_TRUE(spin([&] { return reports.size() == 2; }));
    writeFile(events, "low 1\noom 3\noom_kill 3\n");
    settle();
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].cause, TLKillReport::Cause::OutOfMemory);
    EXPECT_TRUE(reports[0].name.isEmpty());

    QString why;
    EXPECT_FALSE(watch.watchMemoryEvents(dir.filePath(QStringLiteral("none")), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("none"))) << why.toStdString();
}

TEST(KillWatch, OomdKillsNameTheApplicationOfTheirCgroup) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
    QTemporaryDir data;
    QDir().mkpath(data.filePath(QStringLiteral("applications")));
    writeFile(data.filePath(QStringLiteral("applications/org.mozilla.firefox.desktop")),
              "[Desktop Entry]\nName=Firefox\nName[zh_CN]=火狐\n");
    TLLinuxKillWatch watch;
    watch.setDesktopEntryDirs({data.filePath(QStringLiteral("applications")).toStdString()});
    std::vector<TLKillReport> reports;
    QObject::connect(&watch, &TLKillWatch::killed,
                     [&](const TLKillReport& r) { reports.push_back(r); });
    ASSERT_TRUE(watch.watchOomd(bus.connect()));

    QDBusConnection oomd = bus.connect();
    auto kill = [&](const QString& cgroup, const QString& reason) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/oom1"), QStringLiteral("org.freedesktop.oom1.Manager"),
            QStringLiteral("Killed"));
        signal << cgroup << reason;
        ASSERT_TRUE(oomd.send(signal));
    };
    // From a sender that is not systemd-oomd: not heard.
    kill(QStringLiteral("/user.slice/x.scope"), QStringLiteral("memory-used"));
    settle();
    EXPECT_TRUE(reports.empty());

    ASSERT_TRUE(oomd.registerService(QStringLiteral("org.freedesktop.oom1")));
    kill(QStringLiteral("/user.slice/user-1000.slice/user@1000.service/app.slice/"
                        "app-gnome-org.mozilla.firefox-4242.scope"),
         QStringLiteral("memory-pressure"));
    kill(QStringLiteral("/system.slice/packagekit.service"), QStringLiteral("memory-used"));
    ASSERT_TRUE(spin([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports[0].cause, TLKillReport::Cause::MemoryPressure);
    EXPECT_EQ(reports[0].appKey, QStringLiteral("app:org.mozilla.firefox"));
    EXPECT_EQ(reports[0].name, QStringLiteral("火狐"));
    EXPECT_EQ(reports[1].cause, TLKillReport::Cause::SwapFull);
    EXPECT_TRUE(reports[1].appKey.isEmpty());
    EXPECT_EQ(reports[1].name, QStringLiteral("packagekit.service"));
}

TEST(KillWatch, ABurstOfKillsIsOneNotificationNamingWhoWent) {
    AppHarness h;
    auto firefox = std::make_shared<TLAppIdentity>();
    firefox->key = "app:org.mozilla.firefox";
    firefox->id = "org.mozilla.firefox";
    firefox->name = "Firefox";
    h.procs = {proc(10, "firefox-bin", 6300), proc(11, "hog", 2000), proc(12, "code", 1200),
               proc(13, "small", 10)};
    h.procs[0].app = firefox;
    TLAppDelegate& app = h.launch();
    ASSERT_NE(h.killWatch, nullptr);
    h.scheduler.clock = 61;
    app.tick();
    ASSERT_TRUE(h.queue.runOne()); // the background sample: who was using what

    // The kernel ends two processes within a second; systemd-oomd ends a third soon after.
    h.procs = {proc(12, "code", 1200), proc(13, "small", 10)};
    h.killWatch->kill(TLKillReport{});
    h.killWatch->kill(TLKillReport{});
    h.killWatch->kill({TLKillReport::Cause::MemoryPressure, QStringLiteral("/a/app-code-1.scope"),
                       QStringLiteral("app:code"), QStringLiteral("Visual Studio Code")});
    EXPECT_TRUE(h.notifications.posted.empty());
    h.scheduler.advance(TLKillNotifier::kCoalesceSeconds);
    ASSERT_TRUE(h.queue.runOne()); // the sample that tells who is gone
    ASSERT_EQ(h.notifications.posted.size(), 1u);
    const TLNotification& n = h.notifications.posted[0];
    EXPECT_EQ(n.title, QStringLiteral("已结束进程：Firefox、hog、Visual Studio Code"));
    EXPECT_EQ(n.body, QStringLiteral("内存不足，系统结束了 Firefox（6.15 GB）、hog（1.95 GB）。"
                                     "内存压力过高，系统结束了 Visual Studio Code。"));
    EXPECT_FALSE(n.urgent);
    ASSERT_EQ(n.actions.size(), 1);
    EXPECT_EQ(n.actions[0].label, QStringLiteral("打开面板"));

    // A kill no sample can tell of (those gone since the last were told of); then notifications
    // turned off: the watch goes.
    h.killWatch->kill(TLKillReport{});
    h.scheduler.advance(TLKillNotifier::kCoalesceSeconds);
    ASSERT_TRUE(h.queue.runOne());
    ASSERT_EQ(h.notifications.posted.size(), 2u);
    EXPECT_EQ(h.notifications.posted[1].title, QStringLiteral("已结束进程"));
    EXPECT_EQ(h.notifications.posted[1].body, QStringLiteral("内存不足，系统结束了一个进程。"));
    app.toggleNotifyCriticalPressure();
    EXPECT_EQ(h.killWatch, nullptr);
}
