// The Linux halves: notifications over D-Bus to a server of the test's own, and the kernel's
// pressure-stall trigger.
#include "fake_notification_server.h"
#include "platform/linux/TLFreedesktopNotifications.h"
#include "platform/linux/TLPsiTrigger.h"
#include "private_bus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

TLNotification critical() {
    TLNotification n;
    n.title = QStringLiteral("内存压力严重");
    n.body = QStringLiteral("hog 占用 3.00 GB。已使用 15.00 GB / 16.00 GB。");
    n.actions = {{QStringLiteral("open-panel"), QStringLiteral("打开面板")},
                 {QStringLiteral("end-process"), QStringLiteral("结束 hog…")}};
    return n;
}

} // namespace

TEST(FreedesktopNotifications, UrgentNotificationWithActionsFromTheApplication) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon to run a private session bus";
    QDBusConnection serverBus = bus.connect();
    FakeNotificationServer server(serverBus);
    ASSERT_TRUE(server.start());
    TLFreedesktopNotifications center(bus.connect());

    center.post(critical());
    ASSERT_TRUE(spin([&] { return server.received.size() == 1 && center.pending() == 0; }));
    const auto& r = server.received[0];
    EXPECT_EQ(r.appName, "潮汐");
    EXPECT_EQ(r.replacesId, 0u);
    EXPECT_EQ(r.summary, "内存压力严重");
    EXPECT_EQ(r.body, "hog 占用 3.00 GB。已使用 15.00 GB / 16.00 GB。");
    EXPECT_EQ(r.actions, (QStringList{"open-panel", "打开面板", "end-process", "结束 hog…"}));
    ASSERT_TRUE(r.hints.contains("urgency"));
    EXPECT_EQ(r.hints.value("urgency").metaType().id(), QMetaType::UChar) << "a D-Bus byte";
    EXPECT_EQ(r.hints.value("urgency").toInt(), 2);
    EXPECT_EQ(r.hints.value("desktop-entry").toString(), "dev.tide.monitor");
    EXPECT_EQ(center.shownId(), r.id);

    // The user's choice arrives as the action's key; another notification's actions do not.
    QStringList chosen;
    QObject::connect(&center, &TLNotificationCenter::actionInvoked,
                     [&](const QString& key) { chosen << key; });
    server.invoke(r.id + 100, QStringLiteral("end-process"));
    settle();
    EXPECT_TRUE(chosen.isEmpty());
    server.invoke(r.id, QStringLiteral("end-process"));
    ASSERT_TRUE(spin([&] { return chosen.size() == 1; }));
    EXPECT_EQ(chosen, QStringList{"end-process"});
    ASSERT_TRUE(spin([&] { return center.shownId() == 0; })) << "closed after the action";

    // Closed, the next one is new; shown, the next one replaces it.
    center.post(critical());
    ASSERT_TRUE(spin([&] { return server.received.size() == 2 && center.pending() == 0; }));
    EXPECT_EQ(server.received[1].replacesId, 0u);
    center.post(critical());
    ASSERT_TRUE(spin([&] { return server.received.size() == 3 && center.pending() == 0; }));
    EXPECT_EQ(server.received[2].replacesId, server.received[1].id);
}

TEST(FreedesktopNotifications, NoActionsWhereTheServerShowsNone) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon to run a private session bus";
    QDBusConnection serverBus = bus.connect();
    FakeNotificationServer server(serverBus, /*actions=*/false);
    ASSERT_TRUE(server.start());
    TLFreedesktopNotifications center(bus.connect());
    center.post(critical());
    ASSERT_TRUE(spin([&] { return server.received.size() == 1; }));
    EXPECT_TRUE(server.received[0].actions.isEmpty());
    EXPECT_EQ(server.received[0].summary, "内存压力严重");
}

TEST(FreedesktopNotifications, WithoutAServerNothingWaitsAndNothingIsShown) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon to run a private session bus";
    // (The bus may try to start a server it knows of, and give up only after a while: the
    // calls then end at their timeout.)
    TLFreedesktopNotifications center(bus.connect(), 500);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 3; ++i)
        center.post(critical());
    EXPECT_LT(t.elapsed(), 100) << "post must not wait for the bus";
    ASSERT_TRUE(spin([&] { return center.pending() == 0; }));
    EXPECT_EQ(center.shownId(), 0u);

    // A server that comes later (one the bus starts on demand) is found at the next post, and
    // its actions reach the application.
    QDBusConnection serverBus = bus.connect();
    FakeNotificationServer server(serverBus);
    ASSERT_TRUE(server.start());
    center.post(critical());
    ASSERT_TRUE(spin([&] { return server.received.size() == 1 && center.shownId() != 0; }));
    QStringList chosen;
    QObject::connect(&center, &TLNotificationCenter::actionInvoked,
                     [&](const QString& key) { chosen << key; });
    server.invoke(server.received[0].id, QStringLiteral("open-panel"));
    ASSERT_TRUE(spin([&] { return !chosen.isEmpty(); }));
    EXPECT_EQ(chosen, QStringList{"open-panel"});

    // No bus at all.
    TLFreedesktopNotifications offline(QDBusConnection(QStringLiteral("tide-no-such-bus")));
    offline.post(critical());
    EXPECT_EQ(offline.pending(), 0);
}

// --- The pressure-stall trigger ------------------------------------------------------------------

namespace {

int openDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                                .size());
}

} // namespace

TEST(PsiTrigger, ArmsOnTheRealKernelAndClosesItsFile) {
    QString why;
    const int before = openDescriptors();
    auto trigger = TLPsiTrigger::arm(QStringLiteral("/proc/pressure/memory"),
                                     QByteArray(TLPsiTrigger::kMemoryTrigger), &why);
    if (!trigger)
        GTEST_SKIP() << "this kernel refuses a memory pressure trigger: " << why.toStdString();
    EXPECT_TRUE(why.isEmpty());
    EXPECT_GE(trigger->fd(), 0);
    EXPECT_TRUE(trigger->listening());
    // Read-write, as a trigger must be opened, and not inherited by the programs Tide starts.
    const int flags = ::fcntl(trigger->fd(), F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(::fcntl(trigger->fd(), F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(openDescriptors(), before + 1);
    trigger.reset();
    EXPECT_EQ(openDescriptors(), before);

    // The one the program arms goes through the same call.
    auto watch = TLMakePressureWatch(&why);
    EXPECT_TRUE(watch) << why.toStdString();
}

TEST(PsiTrigger, RefusalsComeBackWithTheReasonAndLeaveNothingOpen) {
    const int before = openDescriptors();
    QString why;
    if (QFile::exists(QStringLiteral("/proc/pressure/memory"))) {
        // The kernel's own refusal: a threshold longer than its window.
        EXPECT_FALSE(TLPsiTrigger::arm(QStringLiteral("/proc/pressure/memory"),
                                       "full 3000000 2000000", &why));
        EXPECT_TRUE(why.contains(QStringLiteral("refused"))) << why.toStdString();
        EXPECT_TRUE(why.contains(QString::fromLocal8Bit(std::strerror(EINVAL))))
            << why.toStdString();
        // And a window it does not take (over 10 s).
        EXPECT_FALSE(TLPsiTrigger::arm(QStringLiteral("/proc/pressure/memory"),
                                       "some 500000 20000000", &why));
    }
    // No PSI at all (an older kernel, or one built without it).
    EXPECT_FALSE(TLPsiTrigger::arm(QStringLiteral("/proc/pressure/no-such-resource"),
                                   TLPsiTrigger::kMemoryTrigger, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("cannot open"))) << why.toStdString();
    QTemporaryDir dir;
    EXPECT_FALSE(TLPsiTrigger::arm(dir.path(), TLPsiTrigger::kMemoryTrigger, &why));
    EXPECT_FALSE(TLPsiTrigger::arm(dir.path(), TLPsiTrigger::kMemoryTrigger)); // no reason wanted
    EXPECT_EQ(openDescriptors(), before);
}
