#include "app/TLPressureEpisode.h"
#include "app/TLPressureNotifier.h"
#include "app_fakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <gtest/gtest.h>

namespace {

constexpr auto Normal = TLPressureLevel::Normal;
constexpr auto Warning = TLPressureLevel::Warning;
constexpr auto Critical = TLPressureLevel::Critical;

TLProc proc(int32_t pid, const char* name, uint64_t memory, uint64_t startTime = 0) {
    TLProc p;
    p.pid = pid;
    p.name = name;
    p.memory = memory;
    p.startTime = startTime;
    return p;
}

QStringList labels(const TLNotification& n) {
    QStringList out;
    for (const TLNotification::Action& a : n.actions)
        out << a.key + u'=' + a.label;
    return out;
}

} // namespace

// --- When: once per episode ---------------------------------------------------------------------

TEST(PressureEpisode, OnceWhenTheLevelTurnsCriticalAndNotWhileItStays) {
    TLPressureEpisode e;
    EXPECT_FALSE(e.observe(Normal, 0));
    EXPECT_FALSE(e.observe(Warning, 2));
    EXPECT_TRUE(e.observe(Critical, 4));
    for (double t = 6; t < 200; t += 2)
        EXPECT_FALSE(e.observe(Critical, t)) << t;
    // Anything but the critical level is calm, unknown values included.
    EXPECT_FALSE(e.observe(TLPressureLevel{3}, 200));
    EXPECT_FALSE(e.armed());
}

TEST(PressureEpisode, FlappingWithinAMinuteStaysOneEpisode) {
    TLPressureEpisode e;
    ASSERT_TRUE(e.observe(Critical, 0));
    // Below and back again, many times, each calm spell shorter than 60 s.
    double t = 0;
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(e.observe(Warning, t += 1));
        EXPECT_FALSE(e.observe(Normal, t += 58));
        EXPECT_FALSE(e.observe(Critical, t += 1)) << "flap " << i;
    }
}

TEST(PressureEpisode, ArmedAgainAfterAMinuteBelowCritical) {
    TLPressureEpisode e;
    ASSERT_TRUE(e.observe(Critical, 10));
    EXPECT_FALSE(e.observe(Normal, 12)); // calm from here
    EXPECT_FALSE(e.observe(Normal, 71.9));
    EXPECT_FALSE(e.armed());
    EXPECT_FALSE(e.observe(Normal, 72)); // 60 s after the first calm reading
    EXPECT_TRUE(e.armed());
    EXPECT_TRUE(e.observe(Critical, 73));

    // The calm spell is measured from its first reading, not from the episode's start, and a
    // critical reading in between starts it over.
    EXPECT_FALSE(e.observe(Normal, 100));
    EXPECT_FALSE(e.observe(Critical, 150));
    EXPECT_FALSE(e.observe(Normal, 155));
    EXPECT_FALSE(e.observe(Normal, 210));
    EXPECT_FALSE(e.armed());
    EXPECT_FALSE(e.observe(Normal, 215));
    EXPECT_TRUE(e.observe(Critical, 216));
}

TEST(PressureEpisode, AClockThatGoesBackRestartsTheCalmSpell) {
    TLPressureEpisode e;
    ASSERT_TRUE(e.observe(Critical, 1000));
    EXPECT_FALSE(e.observe(Normal, 1001));
    EXPECT_FALSE(e.observe(Normal, 5)); // the clock went back
    EXPECT_FALSE(e.observe(Normal, 64));
    EXPECT_FALSE(e.armed());
    EXPECT_FALSE(e.observe(Normal, 65));
    EXPECT_TRUE(e.armed());
}

// --- What it says -------------------------------------------------------------------------------

TEST(PressureMessage, NamesTheTwoLargestWithThePanelsFigures) {
    TLSystemStats stats;
    stats.used = 16750372454ULL; // 15.60 GB
    stats.total = 16ULL << 30;
    const std::vector<TLProc> procs = {proc(10, "code", 2040109466), proc(11, "tiny", 4096),
                                       proc(12, "Chrome", 3435973837ULL, 777),
                                       proc(13, "kworker", 0)};
    const TLPressureMessage m = TLComposePressureMessage(procs, stats);
    EXPECT_EQ(m.notification.title, "内存压力严重");
    EXPECT_EQ(m.notification.body,
              "Chrome 占用 3.20 GB，code 占用 1.90 GB。已使用 15.60 GB / 16.00 GB。");
    EXPECT_EQ(labels(m.notification),
              (QStringList{"open-panel=打开面板", "end-process=结束 Chrome…"}));
    ASSERT_TRUE(m.largest);
    EXPECT_EQ(*m.largest, (TLProcTarget{12, "Chrome", TLEndSignal::Terminate, 777}));

    // With ten minutes of history: code grew steadily, and so did tiny, faster than anyone.
    TLGrowthTracker growth;
    for (int minute = 0; minute <= 10; ++minute) {
        std::vector<TLProc> then = procs;
        then[0].memory = 1000000000 + 100000000ULL * static_cast<uint64_t>(minute);
        then[1].memory = 400000000ULL * static_cast<uint64_t>(minute) + 4096;
        growth.record(minute * 60.0, then);
    }
    const TLPressureMessage grown = TLComposePressureMessage(procs, stats, &growth);
    EXPECT_EQ(grown.notification.body,
              "Chrome 占用 3.20 GB，code 占用 1.90 GB（正在增长）。增长最快：tiny（+3.73 GB / 10 "
              "分钟）。已使用 15.60 GB / 16.00 GB。");
}

TEST(PressureMessage, AnApplicationOfSeveralProcessesIsNamedAndEndedAsOne) {
    auto firefox = std::make_shared<const TLAppIdentity>(
        TLAppIdentity{"app:firefox", "firefox", "Firefox", "firefox"});
    std::vector<TLProc> procs = {proc(1, "firefox", 1ULL << 30, 5), proc(2, "code", 2ULL << 30),
                                 proc(3, "Isolated Web Co", 1ULL << 30, 6),
                                 proc(4, "Web Content", 1ULL << 30, 7)};
    for (size_t i : {0, 2, 3})
        procs[i].app = firefox;
    TLSystemStats stats;
    const TLPressureMessage m = TLComposePressureMessage(procs, stats);
    EXPECT_EQ(m.notification.body,
              "Firefox 占用 3.00 GB（3 个进程），code 占用 2.00 GB。已使用 0 B / 0 B。");
    EXPECT_EQ(labels(m.notification),
              (QStringList{"open-panel=打开面板", "end-process=结束 Firefox…"}));
    EXPECT_FALSE(m.largest);
    ASSERT_TRUE(m.largestApp);
    EXPECT_EQ(m.largestApp->name, "Firefox");
    EXPECT_EQ(m.largestApp->members,
              (QList<TLProcTarget>{{1, "firefox", TLEndSignal::Terminate, 5},
                                   {3, "Isolated Web Co", TLEndSignal::Terminate, 6},
                                   {4, "Web Content", TLEndSignal::Terminate, 7}}));
}

TEST(PressureMessage, FewerProcessesThanTwo) {
    TLSystemStats stats;
    stats.used = 900ULL << 20;
    stats.total = 1ULL << 30;
    TLPressureMessage m = TLComposePressureMessage({proc(5, "只有我", 512ULL << 20)}, stats);
    EXPECT_EQ(m.notification.body, "只有我 占用 512.0 MB。已使用 900.0 MB / 1.00 GB。");
    EXPECT_EQ(labels(m.notification),
              (QStringList{"open-panel=打开面板", "end-process=结束 只有我…"}));

    // An empty sample (the pids could not be listed): the figures, and nothing to end.
    m = TLComposePressureMessage({}, stats);
    EXPECT_EQ(m.notification.body, "已使用 900.0 MB / 1.00 GB。");
    EXPECT_EQ(labels(m.notification), QStringList{"open-panel=打开面板"});
    EXPECT_FALSE(m.largest);
}

TEST(PressureMessage, EqualMemoryKeepsTheSampleOrder) {
    const std::vector<TLProc> procs = {proc(1, "a", 100 << 20), proc(2, "b", 100 << 20),
                                       proc(3, "c", 100 << 20)};
    const TLPressureMessage m = TLComposePressureMessage(procs, TLSystemStats{});
    EXPECT_EQ(m.notification.body, "a 占用 100.0 MB，b 占用 100.0 MB。已使用 0 B / 0 B。");
    EXPECT_EQ(m.largest->pid, 1);
}

// --- The application: samples, watch, setting and actions --------------------------------------

namespace {

struct NotifierHarness : AppHarness {
    FakeProcesses fakeProcesses;
    NotifierHarness() {
        processes = &fakeProcesses;
        procs = {proc(4242, "hog", 3ULL << 30, 99), proc(7, "editor", 1ULL << 30, 5)};
        sample.used = 15ULL << 30;
    }
    void tickAt(double t, TLPressureLevel level) {
        scheduler.clock = t;
        sample.pressureLevel = level;
        app->tick();
    }
};

} // namespace

TEST(PressureNotifier, CriticalTickTakesOneProcessSampleOffTheMainThreadThenNotifies) {
    NotifierHarness h;
    TLAppDelegate& app = h.launch();
    ASSERT_TRUE(h.watch) << "the watch is armed at launch, notifications being on by default";

    h.tickAt(1, Warning);
    EXPECT_TRUE(h.queue.jobs.empty());
    h.tickAt(2, Critical);
    // Nothing is posted before the process sample has run on the queue.
    ASSERT_EQ(h.queue.jobs.size(), 1u);
    EXPECT_TRUE(h.notifications.posted.empty());
    h.queue.runOne();
    EXPECT_EQ(h.processSamples, 1);
    ASSERT_EQ(h.notifications.posted.size(), 1u);
    EXPECT_EQ(h.notifications.posted[0].body,
              "hog 占用 3.00 GB，editor 占用 1.00 GB。已使用 15.00 GB / 16.00 GB。");
    // The panel is closed: what the sample opened is let go.
    EXPECT_TRUE(h.queue.runOne());
    EXPECT_EQ(h.processReleases, 1);

    // Still critical, and critical again within a minute of calm: nothing more.
    h.tickAt(4, Critical);
    h.tickAt(10, Normal);
    h.tickAt(69, Normal);
    h.tickAt(70, Critical);
    while (h.queue.runOne()) { // the growth histories' sample of the minute
    }
    EXPECT_EQ(h.notifications.posted.size(), 1u);
    // After a full minute of calm, the next episode is announced.
    h.tickAt(75, Normal);
    h.tickAt(136, Normal);
    h.tickAt(137, Critical);
    while (h.queue.runOne()) {
    }
    EXPECT_EQ(h.notifications.posted.size(), 2u);
    EXPECT_EQ(app.history().size(), 10u); // the launch's tick and nine more
}

TEST(PressureNotifier, AStallBetweenTicksSamplesAtOnceWithoutAHistoryValue) {
    NotifierHarness h;
    TLAppDelegate& app = h.launch();
    ASSERT_TRUE(h.watch);
    const int samples = h.systemSamples;
    const size_t history = app.history().size();
    const size_t icons = h.statusItem.iconKeys.size();

    h.sample.pressureLevel = Critical;
    h.watch->stall();
    EXPECT_EQ(h.systemSamples, samples + 1);
    EXPECT_EQ(app.history().size(), history);
    EXPECT_EQ(h.statusItem.iconKeys.size(), icons + 1) << "the gauge turns red at once";
    h.queue.runOne();
    EXPECT_EQ(h.notifications.posted.size(), 1u);

    // The next stall of the same episode samples again and says nothing.
    h.watch->stall();
    EXPECT_EQ(h.systemSamples, samples + 2);
    while (h.queue.runOne()) {
    }
    EXPECT_EQ(h.notifications.posted.size(), 1u);
}

TEST(PressureNotifier, AStallReadBelowCriticalIsReadAgainUntilTheAverageHasCaughtUp) {
    // The kernel reports a stall before its average crosses the line, then not for 2 s.
    NotifierHarness h;
    h.launch();
    ASSERT_TRUE(h.watch);
    h.sample.pressureLevel = Warning;
    const int samples = h.systemSamples;
    h.watch->stall();
    auto waitForSamples = [&](int n) {
        QElapsedTimer clock;
        clock.start();
        while (h.systemSamples < n && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return h.systemSamples >= n;
    };
    ASSERT_TRUE(waitForSamples(samples + 2)) << "no read after the report";
    EXPECT_TRUE(h.notifications.posted.empty());
    h.sample.pressureLevel = Critical;
    ASSERT_TRUE(waitForSamples(samples + 3));
    h.queue.runOne();
    EXPECT_EQ(h.notifications.posted.size(), 1u) << "the crossing is heard without a new report";
    // Critical, the reads stop: the ticks (every 5 s here) and the next report are enough.
    const int after = h.systemSamples;
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 3 * TLPressureNotifier::kFollowUpMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_LE(h.systemSamples, after + 1);
}

TEST(PressureNotifier, WhereTheSystemRefusesAWatchTheTicksStillWarn) {
    NotifierHarness h;
    h.watchRefusal = QStringLiteral("the kernel refused a trigger: Invalid argument");
    TLAppDelegate& app = h.launch();
    EXPECT_EQ(h.watchesMade, 1);
    EXPECT_FALSE(app.pressureNotifier().watching());
    EXPECT_EQ(app.pressureNotifier().watchRefusal(), *h.watchRefusal);
    h.tickAt(3, Critical);
    h.queue.runOne();
    ASSERT_EQ(h.notifications.posted.size(), 1u);
    EXPECT_EQ(h.notifications.posted[0].title, "内存压力严重");
}

TEST(PressureNotifier, TheSettingStoresLetsTheWatchGoAndSilencesTheNotification) {
    NotifierHarness h;
    TLAppDelegate& app = h.launch();
    EXPECT_TRUE(h.prefs->boolForKey(TLNotifyCriticalPressure)); // on by default
    std::unique_ptr<QMenu> menu(app.settingsMenu());
    // Beside 开机时自动启动.
    EXPECT_TRUE(DescribeMenu(menu.get())
                    .contains("[ ] 开机时自动启动\n[x] 内存压力严重时通知\n打开活动监视器\n"))
        << DescribeMenu(menu.get()).toStdString();

    QAction* item = FindMenuAction(menu.get(), {"内存压力严重时通知"});
    ASSERT_TRUE(item);
    item->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(h.prefs->boolForKey(TLNotifyCriticalPressure));
    EXPECT_FALSE(h.watch) << "no watch while notifications are off";
    EXPECT_FALSE(app.pressureNotifier().watching());
    EXPECT_TRUE(DescribeMenu(app.statusMenu()).contains("[ ] 内存压力严重时通知"));
    h.tickAt(5, Critical);
    EXPECT_TRUE(h.queue.jobs.empty());
    EXPECT_TRUE(h.notifications.posted.empty());

    // Back on: armed again; the episode under way was already seen, so it stays quiet.
    app.toggleNotifyCriticalPressure();
    EXPECT_TRUE(h.prefs->boolForKey(TLNotifyCriticalPressure));
    EXPECT_TRUE(h.watch);
    EXPECT_EQ(h.watchesMade, 2);
    h.tickAt(7, Critical);
    EXPECT_TRUE(h.notifications.posted.empty());

    // Stored in the file, under its own key, beside the others.
    QFile file(h.prefsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("TLNotifyCriticalPressure=true"));
}

TEST(PressureNotifier, GarbageInTheFileReadsAsOffAndLosesNothingElse) {
    NotifierHarness h;
    {
        QFile file(h.prefsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nTLRows=12\nTLNotifyCriticalPressure=\xff\xfe\"oops\nTLMono=true\n"
                   "TLNotifyCriticalPressure\n");
    }
    h.prefs = std::make_unique<TLPreferences>(h.prefsPath());
    TLAppDelegate& app = h.launch();
    EXPECT_EQ(h.prefs->integerForKey(TLRows), 12);
    EXPECT_TRUE(h.prefs->boolForKey(TLMono));
    EXPECT_EQ(app.panel()->rowCount(), 12);
    // Either way the program runs; the menu shows what the store reads.
    const bool on = h.prefs->boolForKey(TLNotifyCriticalPressure);
    std::unique_ptr<QMenu> menu(app.settingsMenu());
    EXPECT_TRUE(DescribeMenu(menu.get())
                    .contains(QStringLiteral("[%1] 内存压力严重时通知").arg(on ? 'x' : ' ')));
    app.toggleNotifyCriticalPressure();
    EXPECT_EQ(h.prefs->boolForKey(TLNotifyCriticalPressure), !on);
    EXPECT_EQ(h.prefs->integerForKey(TLRows), 12);
    EXPECT_TRUE(h.prefs->boolForKey(TLMono));
}

TEST(PressureNotifier, EndActionConfirmsThenSignalsOnlyTheSameProcess) {
    NotifierHarness h;
    h.fakeProcesses.startTimes = {{4242, 99}, {7, 5}};
    h.launch();
    h.tickAt(1, Critical);
    h.queue.runOne();
    ASSERT_EQ(h.notifications.posted.size(), 1u);

    // Cancelled: nothing sent.
    h.alerts.answers = {TLAlertFirstButtonReturn + 1};
    h.notifications.choose(QStringLiteral("end-process"));
    ASSERT_EQ(h.alerts.shown.size(), 1u);
    EXPECT_EQ(h.alerts.shown[0].messageText, "确定要结束「hog」吗？");
    EXPECT_EQ(h.alerts.shown[0].buttons, (QStringList{"结束进程", "取消"}));
    EXPECT_TRUE(h.fakeProcesses.signalsSent.empty());

    // Confirmed: SIGTERM to that pid.
    h.notifications.choose(QStringLiteral("end-process"));
    EXPECT_EQ(h.fakeProcesses.signalsSent, (std::vector<std::pair<int32_t, int>>{{4242, SIGTERM}}));

    // The pid now belongs to another process: confirmed, nothing is sent, and the user is told.
    h.fakeProcesses.startTimes[4242] = 1234;
    h.notifications.choose(QStringLiteral("end-process"));
    EXPECT_EQ(h.fakeProcesses.signalsSent.size(), 1u);
    ASSERT_EQ(h.alerts.shown.size(), 4u);
    EXPECT_EQ(h.alerts.shown[3].messageText, "无法结束该进程");
}

TEST(PressureNotifier, AProcessFromPsIsIdentifiedWhenTheNotificationGoesOut) {
    NotifierHarness h;
    h.procs = {proc(300, "root-daemon", 2ULL << 30, 0)};
    h.procs[0].approximate = true;
    h.fakeProcesses.startTimes = {{300, 4444}};
    h.launch();
    h.tickAt(1, Critical);
    h.queue.runOne();
    ASSERT_TRUE(h.app->pressureNotifier().endTarget());
    EXPECT_EQ(h.app->pressureNotifier().endTarget()->startTime, 4444u);
}

TEST(PressureNotifier, OpenPanelActionOpensThePanelAsShowDoes) {
    NotifierHarness h;
    h.launch();
    EXPECT_FALSE(h.popover.shown);
    h.notifications.choose(QStringLiteral("open-panel"));
    EXPECT_TRUE(h.popover.shown);
    // Showing again leaves it open (it is not a toggle); an unknown key does nothing.
    h.notifications.choose(QStringLiteral("open-panel"));
    h.notifications.choose(QStringLiteral("default"));
    EXPECT_TRUE(h.popover.shown);
    EXPECT_TRUE(h.alerts.shown.empty());
}

TEST(PressureNotifier, SnapshotRunsNeitherWatchNorNotify) {
    NotifierHarness h;
    h.snapshotDir = h.dir.filePath(QStringLiteral("shots"));
    h.sample.pressureLevel = Critical;
    h.launch();
    EXPECT_EQ(h.watchesMade, 0);
    h.app->tick();
    EXPECT_TRUE(h.notifications.posted.empty());
}
