#include "app/TLAbout.h"
#include "app/TLLaunchAtLogin.h"
#include "app_fakes.h"
#include "format/TLFormat.h"
#include "panel/TLPanelControls.h"
#include "widgets/TLAppearance.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QThread>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace {

std::vector<std::string> names(const std::vector<TLProc>& procs) {
    std::vector<std::string> out;
    for (const TLProc& p : procs)
        out.push_back(p.name);
    return out;
}

// Opens the settings menu with a right click on the status item and chooses the item at `path`
// while it is open; the action runs from the event loop after the menu has gone.
void choose(AppHarness& h, const QStringList& path) {
    bool found = false;
    h.statusItem.whileMenuOpen = [&](QMenu* menu) {
        if (QAction* a = FindMenuAction(menu, path)) {
            found = true;
            a->trigger();
        }
    };
    h.statusItem.click(TLStatusItem::Button::Right);
    h.statusItem.whileMenuOpen = nullptr;
    QCoreApplication::processEvents();
    EXPECT_TRUE(found) << path.join(u'/').toStdString();
}

QAbstractButton* button(QWidget* w) {
    return qobject_cast<QAbstractButton*>(w);
}

} // namespace

TEST(AppDelegate, StartUpRestoresTheStoredChoicesAndTicksOnce) {
    AppHarness h;
    h.prefs->setInteger(12, TLRows);
    h.prefs->setInteger(1, TLTab);
    h.systemAppearance = TLAppearance::Dark;
    TLAppDelegate& app = h.launch(/*keepTimer=*/true);

    EXPECT_DOUBLE_EQ(h.prefs->doubleForKey(TLInterval), 2.0); // defaults registered
    EXPECT_TRUE(app.timer().isActive());
    EXPECT_EQ(app.timer().interval(), 2000);

    // One sample at once: history and status item, nothing for the closed panel.
    EXPECT_EQ(h.systemSamples, 1);
    EXPECT_EQ(app.history(), std::vector<double>{0.5});
    EXPECT_EQ(h.statusItem.iconKeys.size(), 1u);
    EXPECT_EQ(h.statusItem.titles, std::vector<QString>{"50%"});
    EXPECT_EQ(h.statusItem.toolTips.size(), 1u);
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.queue.jobs.empty());
    EXPECT_TRUE(h.scheduler.delays.empty());
    EXPECT_EQ(h.monitor.installs, 0);

    ASSERT_TRUE(app.panel()->isViewLoaded());
    EXPECT_EQ(app.panel()->rowCount(), 12);
    choose(h, {"按应用合并进程"});
    EXPECT_TRUE(h.prefs->boolForKey(TLGroupApps));
    EXPECT_TRUE(app.panel()->groupsApps());
    EXPECT_EQ(app.panel()->tab(), TLPanelTab::Energy);
    EXPECT_EQ(app.panel()->seg()->selectedSegment(), 1);
    EXPECT_EQ(TLEffectiveAppearance(app.panel()->view()), TLAppearance::Dark);

    // The timer is wired to the tick.
    QMetaObject::invokeMethod(const_cast<QTimer*>(&app.timer()), "timeout");
    EXPECT_EQ(h.systemSamples, 2);
    EXPECT_EQ(app.history().size(), 2u);

    // The desktop switched to light meanwhile: the next opening follows it.
    h.systemAppearance = TLAppearance::Light;
    app.statusClicked();
    EXPECT_EQ(TLEffectiveAppearance(app.panel()->view()), TLAppearance::Light);
    app.closePopover();
}

TEST(AppDelegate, TimerIntervalFromTheStoredValue) {
    // What the preference file holds → the timer's interval in milliseconds.
    const std::vector<std::pair<const char*, int>> cases = {
        {"0.4", 2000}, {"0.5", 500},  {"1", 1000},        {"5", 5000},   {"-3", 2000},
        {"nan", 2000}, {"abc", 2000}, {"1e300", INT_MAX}, {"inf", 2000}, {"", 2000},
    };
    for (const auto& [stored, ms] : cases) {
        AppHarness h;
        QFile file(h.prefsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[General]\nTLInterval=") + stored + "\n");
        file.close();
        h.prefs = std::make_unique<TLPreferences>(h.prefsPath());
        TLAppDelegate& app = h.launch(true);
        EXPECT_EQ(app.timer().interval(), ms) << stored;
        EXPECT_TRUE(app.timer().isActive()) << stored;
    }

    // The fallback does not correct the stored value; restarting takes no sample.
    AppHarness h;
    TLAppDelegate& app = h.launch();
    h.prefs->setDouble(0.4, TLInterval);
    app.restartTimer();
    EXPECT_EQ(app.timer().interval(), 2000);
    EXPECT_DOUBLE_EQ(h.prefs->doubleForKey(TLInterval), 0.4);
    EXPECT_EQ(h.systemSamples, 1);
}

TEST(AppDelegate, HistoryKeepsTheLast90Fractions) {
    AppHarness h;
    TLAppDelegate& app = h.launch(); // the start-up tick appends 0.5
    for (int i = 1; i <= 90; ++i) {
        h.sample.usagePercent = i;
        app.tick();
        ASSERT_LE(app.history().size(), TLAppDelegate::kHistoryLength);
    }
    ASSERT_EQ(app.history().size(), 90u); // 91 ticks: the oldest went
    EXPECT_DOUBLE_EQ(app.history().front(), 0.01);
    EXPECT_DOUBLE_EQ(app.history().back(), 0.90);

    for (const auto& [usage, fraction] :
         std::vector<std::pair<double, double>>{{100, 1.0}, {250, 1.0}, {0, 0.0}}) {
        h.sample.usagePercent = usage;
        app.tick();
        EXPECT_EQ(app.history().back(), fraction) << usage;
        EXPECT_EQ(app.history().size(), 90u);
    }
    EXPECT_DOUBLE_EQ(app.history().front(), 0.04);
}

TEST(AppDelegate, ProcessSamplesOnlyWhileOpenAndOneAtATime) {
    AppHarness h;
    h.procs = {{1, "first", 100}};
    TLAppDelegate& app = h.launch();
    QLabel* used = app.panel()->bigValue();
    // The first tick draws the panel once, unseen, so that the first opening finds it laid out.
    h.sample.used = 2ULL << 30;
    app.tick();
    const QString before = used->text();
    EXPECT_EQ(before, TLFormatBytes(2ULL << 30));

    // Closed: the status item follows, the panel does not, no process sample.
    h.sample.used = 3ULL << 30;
    for (int i = 0; i < 3; ++i)
        app.tick();
    EXPECT_EQ(h.statusItem.titles.size(), 3u); // each change, once: the same figures send nothing
    EXPECT_EQ(used->text(), before);
    EXPECT_TRUE(h.queue.jobs.empty());
    EXPECT_EQ(h.processSamples, 0);

    // Opening renders a fresh sample (not added to the history) and starts one process sample.
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_EQ(used->text(), TLFormatBytes(3ULL << 30));
    EXPECT_EQ(app.history().size(), 5u);
    EXPECT_TRUE(app.sampling());
    EXPECT_EQ(h.queue.jobs.size(), 1u);

    // While it runs, further requests are dropped; ticks still render the system figures.
    h.sample.used = 5ULL << 30;
    app.tick();
    app.refreshProcs();
    EXPECT_EQ(used->text(), TLFormatBytes(5ULL << 30));
    EXPECT_EQ(h.queue.jobs.size(), 1u);

    h.queue.runOne();
    EXPECT_FALSE(app.sampling());
    EXPECT_EQ(names(app.panel()->lastProcs()), std::vector<std::string>{"first"});

    // A result that arrives after the panel closed is dropped but ends the sampling state. The
    // close lets go of what the sampling keeps open, after the sample under way.
    app.refreshProcs();
    ASSERT_EQ(h.queue.jobs.size(), 1u);
    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_EQ(h.queue.jobs.size(), 2u);
    h.procs = {{2, "late", 100}};
    h.queue.runOne();
    EXPECT_FALSE(app.sampling());
    EXPECT_EQ(names(app.panel()->lastProcs()), std::vector<std::string>{"first"});
    EXPECT_EQ(h.processReleases, 0);
    h.queue.runOne();
    EXPECT_EQ(h.processReleases, 1);
    app.refreshProcs();
    EXPECT_EQ(h.queue.jobs.size(), 1u);
}

// With the panel open, a tick's figures are shown together with the process sample it starts (one
// paint a tick), never later than the wait allows, and never over newer figures.
TEST(AppDelegate, ATicksFiguresWaitForItsProcessSampleButNotLong) {
    AppHarness h;
    h.procs = {{1, "first", 100}};
    TLAppDelegate& app = h.launch();
    QLabel* used = app.panel()->bigValue();
    h.statusItem.click(TLStatusItem::Button::Left);
    h.queue.runOne();

    h.sample.used = 3ULL << 30;
    h.procs = {{2, "second", 100}};
    app.tick();
    EXPECT_NE(used->text(), TLFormatBytes(3ULL << 30));
    h.queue.runOne();
    EXPECT_EQ(used->text(), TLFormatBytes(3ULL << 30));
    EXPECT_EQ(names(app.panel()->lastProcs()), std::vector<std::string>{"second"});

    // A process sample that takes long: the figures come without it once the wait is over.
    h.sample.used = 4ULL << 30;
    app.tick();
    QElapsedTimer waited;
    waited.start();
    while (used->text() != TLFormatBytes(4ULL << 30) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(used->text(), TLFormatBytes(4ULL << 30));
    EXPECT_GE(waited.elapsed(), 200);
    EXPECT_TRUE(app.sampling());

    // A tick while that sample is still under way shows its figures at once; the late sample
    // then brings its rows and leaves the newer figures alone.
    h.queue.runOne();
    h.sample.used = 5ULL << 30;
    app.tick();
    h.sample.used = 6ULL << 30;
    app.tick();
    EXPECT_EQ(used->text(), TLFormatBytes(6ULL << 30));
    h.queue.runOne();
    EXPECT_EQ(used->text(), TLFormatBytes(6ULL << 30));
    EXPECT_FALSE(app.sampling());
}

TEST(AppDelegate, StatusClickStateMachine) {
    AppHarness h;
    TLAppDelegate& app = h.launch();

    // Right click and Control + click: the settings menu; popover and monitor untouched.
    h.statusItem.click(TLStatusItem::Button::Left, /*control=*/true);
    EXPECT_EQ(h.statusItem.menus.size(), 1u);
    EXPECT_FALSE(h.popover.shown);
    EXPECT_EQ(h.monitor.installs, 0);

    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_TRUE(h.popover.shown);
    EXPECT_EQ(h.popover.anchors.back(), h.statusItem.rect);
    EXPECT_EQ(h.popover.contents.back(), app.panel()->view());
    EXPECT_EQ(h.monitor.handlers.size(), 1u);
    EXPECT_EQ(h.scheduler.delays, std::vector<double>{0.9});

    h.statusItem.click(TLStatusItem::Button::Right);
    h.statusItem.click(TLStatusItem::Button::Left, /*control=*/true);
    EXPECT_EQ(h.statusItem.menus.size(), 3u);
    EXPECT_TRUE(h.popover.shown);
    EXPECT_EQ(h.monitor.handlers.size(), 1u);
    EXPECT_EQ(h.popover.closes, 0);

    // Left click toggles; a call without a click does too.
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.monitor.handlers.empty());
    app.statusClicked();
    EXPECT_TRUE(h.popover.shown);
    app.statusClicked();
    EXPECT_FALSE(h.popover.shown);

    // Closing when closed does nothing visible.
    app.closePopover();
    EXPECT_EQ(h.popover.closes, 2);
    EXPECT_TRUE(h.monitor.handlers.empty());

    // A popover that went away without closePopover: reopening keeps the one monitor.
    app.statusClicked();
    h.popover.shown = false;
    const int installs = h.monitor.installs;
    app.statusClicked();
    EXPECT_TRUE(h.popover.shown);
    EXPECT_EQ(h.monitor.installs, installs);
    EXPECT_EQ(h.monitor.handlers.size(), 1u);

    // A click elsewhere closes it; termination removes the monitor.
    h.monitor.fire();
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.monitor.handlers.empty());
    app.statusClicked();
    app.applicationWillTerminate();
    EXPECT_TRUE(h.monitor.handlers.empty());
}

TEST(AppDelegate, TrayClickRightAfterAnOutsideCloseKeepsThePanelClosed) {
    AppHarness h;
    h.launch();
    h.statusItem.click(TLStatusItem::Button::Left);
    h.scheduler.advance(1.0);

    // The press on the tray icon reaches the monitor first, then the tray's click arrives.
    h.monitor.fire();
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_FALSE(h.popover.shown);
    h.scheduler.advance(0.2);
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_FALSE(h.popover.shown);
    h.scheduler.advance(0.3);
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_TRUE(h.popover.shown);

    // A quick close and reopen from the tray itself is not held back.
    h.statusItem.click(TLStatusItem::Button::Left);
    h.scheduler.advance(0.05);
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_TRUE(h.popover.shown);
}

// Trays that draw the icon themselves tell no position: a press on the icon reaches the monitor
// like any other, and the click the tray then reports decides.
TEST(AppDelegate, WithoutIconGeometryTheTraysClickDecides) {
    AppHarness h;
    h.launch();
    h.statusItem.rect = QRect();
    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_TRUE(h.popover.shown);

    // A right click on the icon: the menu opens and the panel stays open.
    h.monitor.fire();
    h.statusItem.click(TLStatusItem::Button::Right);
    h.scheduler.advance(1.0);
    EXPECT_TRUE(h.popover.shown);
    EXPECT_EQ(h.monitor.handlers.size(), 1u);

    // A left click on the icon toggles it closed, once.
    h.monitor.fire();
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_FALSE(h.popover.shown);
    h.scheduler.advance(1.0);
    EXPECT_FALSE(h.popover.shown);

    // A press anywhere else closes it shortly after.
    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_TRUE(h.popover.shown);
    h.monitor.fire();
    EXPECT_TRUE(h.popover.shown);
    h.scheduler.advance(0.3);
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.monitor.handlers.empty());
}

TEST(AppDelegate, CoversOverTheScreenCloseAtOnceAndEscapeCloses) {
    AppHarness h;
    h.launch();
    h.statusItem.rect = QRect(); // the tray tells no position (Wayland)
    h.monitor.covers = true;     // a cover takes every press, the icon's too

    // A press on the covers closes the panel at once: the tray will report no click for it.
    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_TRUE(h.popover.shown);
    const size_t scheduled = h.scheduler.delays.size();
    h.monitor.fire();
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.monitor.handlers.empty());
    EXPECT_EQ(h.scheduler.delays.size(), scheduled); // no wait for a click from the tray

    // Escape in the panel closes it and removes the monitor; a second Escape does nothing more.
    h.scheduler.advance(1.0);
    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_TRUE(h.popover.shown);
    const int closes = h.popover.closes;
    h.popover.escape();
    EXPECT_FALSE(h.popover.shown);
    EXPECT_EQ(h.popover.closes, closes + 1);
    EXPECT_TRUE(h.monitor.handlers.empty());
    h.popover.escape();
    EXPECT_EQ(h.popover.closes, closes + 1);

    // And the next click opens it again, with one monitor.
    h.scheduler.advance(1.0);
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_TRUE(h.popover.shown);
    EXPECT_EQ(h.monitor.handlers.size(), 1u);
}

TEST(AppDelegate, DelayedRefreshAndAutoOpen) {
    {
        AppHarness h;
        TLAppDelegate& app = h.launch();
        app.statusClicked();
        h.queue.runOne();
        h.scheduler.advance(0.9); // still open: a second sample
        EXPECT_EQ(h.queue.jobs.size(), 1u);
        h.queue.runOne();

        app.statusClicked(); // closed,
        app.statusClicked(); // reopened
        app.statusClicked(); // and closed again within 0.9 s
        while (h.queue.runOne()) {
        }
        EXPECT_EQ(h.processReleases, 2); // once per close
        h.scheduler.advance(0.9);
        EXPECT_TRUE(h.queue.jobs.empty());
    }
    {
        AppHarness h;
        h.autoOpen = true;
        h.launch();
        EXPECT_EQ(h.scheduler.delays, std::vector<double>{1.2});
        h.scheduler.advance(1.19);
        EXPECT_FALSE(h.popover.shown);
        h.scheduler.advance(0.01);
        EXPECT_TRUE(h.popover.shown);
    }
    {
        AppHarness h;
        h.autoOpen = true;
        h.snapshotDir = h.dir.path();
        h.launch();
        EXPECT_TRUE(h.popover.shown);
        EXPECT_EQ(h.scheduler.delays, (std::vector<double>{0.9, 2.5})); // no 1.2 auto-open
    }
}

// `tide --toggle` and `tide --show`: the panel opens as a click would open it, under the item, with
// an outside click closing it; toggle closes it again, show leaves it open.
TEST(AppDelegate, PanelRequestsOpenAndCloseWithoutAClick) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    app.togglePanel();
    ASSERT_TRUE(h.popover.shown);
    EXPECT_EQ(h.popover.anchors.back(), h.statusItem.rect);
    EXPECT_EQ(h.monitor.handlers.size(), 1u);
    EXPECT_TRUE(h.statusItem.toolTipSuppressed);
    EXPECT_EQ(h.queue.jobs.size(), 1u); // the process list fills in
    app.showPanel();
    EXPECT_TRUE(h.popover.shown);
    EXPECT_EQ(h.popover.closes, 0);
    EXPECT_EQ(h.popover.anchors.size(), 1u);
    app.togglePanel();
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.monitor.handlers.empty());
    app.showPanel();
    EXPECT_TRUE(h.popover.shown);

    // Right after an outside click closed it, a request still opens it: only a tray click
    // belongs to that gesture.
    h.monitor.fire();
    ASSERT_FALSE(h.popover.shown);
    app.togglePanel();
    EXPECT_TRUE(h.popover.shown);
    app.togglePanel();

    // The item no longer knows its place: the panel opens where it last hung.
    const QRect known = h.statusItem.rect;
    h.statusItem.rect = QRect();
    app.showPanel();
    EXPECT_EQ(h.popover.anchors.back(), known);
    app.togglePanel();
    // A click there meanwhile opens it at the pointer, as ever.
    h.scheduler.advance(1.0);
    h.statusItem.click(TLStatusItem::Button::Left);
    ASSERT_TRUE(h.popover.shown);
    EXPECT_TRUE(h.popover.anchors.back().isEmpty());
    h.statusItem.click(TLStatusItem::Button::Left);

    // Never placed: the popover's own choice (the pointer).
    AppHarness fresh;
    fresh.statusItem.rect = QRect();
    fresh.launch().togglePanel();
    ASSERT_TRUE(fresh.popover.shown);
    EXPECT_TRUE(fresh.popover.anchors.back().isEmpty());
}

// Without a tray the panel is a window: a request brings it forward and never closes it (closing
// it quits).
TEST(AppDelegate, PanelRequestsBringTheWindowForward) {
    AppHarness h;
    h.statusItem.available = false;
    TLAppDelegate& app = h.launch();
    h.scheduler.advance(4.5);
    ASSERT_TRUE(h.popover.isWindow());
    const size_t shows = h.popover.contents.size();
    app.togglePanel();
    app.showPanel();
    EXPECT_TRUE(h.popover.isWindow());
    EXPECT_EQ(h.popover.contents.size(), shows + 2);
    EXPECT_EQ(h.popover.contents.back(), app.panel()->view());
    EXPECT_EQ(h.popover.closes, 0);
    EXPECT_EQ(h.terminations, 0);
}

// A start by `tide --toggle` opens the panel once up, as TL_AUTO_OPEN does; a request in the
// meantime (the key pressed again) takes over from it, and one that comes before the launch has
// finished is kept for it.
TEST(AppDelegate, PanelRequestsAndTheOpeningAtStart) {
    {
        AppHarness h;
        h.autoOpen = true;
        TLAppDelegate& app = h.launch();
        h.scheduler.advance(0.3);
        app.togglePanel();
        EXPECT_TRUE(h.popover.shown);
        h.scheduler.advance(0.3);
        app.togglePanel();
        h.scheduler.advance(2.0);
        EXPECT_FALSE(h.popover.shown);
    }
    {
        AppHarness h;
        h.autoOpen = true;
        TLAppDelegate& app = h.launch();
        h.scheduler.advance(0.3);
        app.showPanel();
        h.scheduler.advance(2.0);
        EXPECT_TRUE(h.popover.shown);
        EXPECT_EQ(h.popover.anchors.size(), 1u);
    }
    {
        AppHarness h;
        h.app = std::make_unique<TLAppDelegate>(h.environment());
        h.app->togglePanel();
        EXPECT_FALSE(h.popover.shown);
        h.app->applicationDidFinishLaunching();
        h.scheduler.advance(1.2);
        EXPECT_TRUE(h.popover.shown);
    }
}

TEST(AppDelegate, SettingsMenuActionsStoreAndRefresh) {
    AppHarness h;
    TLAppDelegate& app = h.launch();

    h.statusItem.click(TLStatusItem::Button::Right);
    ASSERT_EQ(h.statusItem.menus.size(), 1u);
    EXPECT_EQ(h.statusItem.menus[0], "菜单栏显示\n"
                                     "  [x] 条形图 + 百分比\n"
                                     "  [ ] 仅百分比\n"
                                     "  [ ] 仅已用容量\n"
                                     "  [ ] 仅条形图\n"
                                     "  --\n"
                                     "  [x] 百分比 = 内存使用率\n"
                                     "  [ ] 百分比 = 内存压力\n"
                                     "  --\n"
                                     "  [ ] 附带显示 CPU 占用\n"
                                     "  [ ] 使用单色图标\n"
                                     "刷新频率\n"
                                     "  [ ] 每 1 秒\n"
                                     "  [x] 每 2 秒\n"
                                     "  [ ] 每 3 秒\n"
                                     "  [ ] 每 5 秒\n"
                                     "进程列表长度\n"
                                     "  [ ] 5 个进程\n"
                                     "  [x] 8 个进程\n"
                                     "  [ ] 12 个进程\n"
                                     "[ ] 按应用合并进程\n"
                                     "--\n"
                                     "[ ] 开机时自动启动\n"
                                     "[x] 内存压力严重时通知\n"
                                     "打开活动监视器\n"
                                     "--\n"
                                     "关于潮汐\n"
                                     "退出\n");

    // Display choices store, then tick at once (one sample, one history value, new status).
    choose(h, {"菜单栏显示", "仅百分比"});
    EXPECT_EQ(h.prefs->integerForKey(TLBarMode), 1);
    EXPECT_EQ(h.systemSamples, 2);
    EXPECT_EQ(app.history().size(), 2u);
    EXPECT_EQ(h.statusItem.iconKeys.size(), 2u); // the gauge is gone from the picture
    choose(h, {"菜单栏显示", "百分比 = 内存压力"});
    EXPECT_EQ(h.prefs->integerForKey(TLMetric), 1);
    EXPECT_EQ(h.statusItem.titles.back(), "20%");
    choose(h, {"菜单栏显示", "附带显示 CPU 占用"});
    EXPECT_TRUE(h.prefs->boolForKey(TLShowCPU));
    EXPECT_EQ(h.statusItem.titles.back(), "20% · 12%");
    choose(h, {"菜单栏显示", "使用单色图标"});
    EXPECT_TRUE(h.prefs->boolForKey(TLMono));
    choose(h, {"菜单栏显示", "使用单色图标"});
    EXPECT_FALSE(h.prefs->boolForKey(TLMono));
    EXPECT_EQ(h.systemSamples, 6);

    // The interval restarts the timer without a sample; the length resizes the panel's list.
    choose(h, {"刷新频率", "每 5 秒"});
    EXPECT_DOUBLE_EQ(h.prefs->doubleForKey(TLInterval), 5.0);
    EXPECT_EQ(app.timer().interval(), 5000);
    EXPECT_TRUE(app.timer().isActive());
    EXPECT_EQ(h.systemSamples, 6);
    const_cast<QTimer&>(app.timer()).stop();
    choose(h, {"进程列表长度", "12 个进程"});
    EXPECT_EQ(h.prefs->integerForKey(TLRows), 12);
    EXPECT_EQ(app.panel()->rowCount(), 12);

    // Start at login is the file at the agent path.
    choose(h, {"开机时自动启动"});
    QFile agent(h.agentPath());
    ASSERT_TRUE(agent.open(QIODevice::ReadOnly));
    EXPECT_EQ(agent.readAll(), TLAgentFileContent("/opt/tide/bin/tide", "潮汐"));

    // The menu is rebuilt with the new check marks.
    h.statusItem.click(TLStatusItem::Button::Right);
    const QString menu = h.statusItem.menus.back();
    for (const char* line :
         {"[x] 仅百分比", "[x] 百分比 = 内存压力", "[x] 附带显示 CPU 占用", "[ ] 使用单色图标",
          "[x] 每 5 秒", "[ ] 每 2 秒", "[x] 12 个进程", "[x] 开机时自动启动"})
        EXPECT_TRUE(menu.contains(QString::fromUtf8(line))) << line;

    choose(h, {"开机时自动启动"});
    EXPECT_FALSE(QFile::exists(h.agentPath()));
    choose(h, {"打开活动监视器"});
    EXPECT_EQ(h.log, std::vector<std::string>{"open system monitor"});
    choose(h, {"退出"});
    EXPECT_EQ(h.terminations, 1);
}

TEST(AppDelegate, GearMenuTabsAndTheSystemMonitorButton) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    app.statusClicked();

    QWidget* gear = app.panel()->gearButton();
    ASSERT_TRUE(button(gear));
    button(gear)->click();
    ASSERT_EQ(h.menus.popups.size(), 1u);
    EXPECT_EQ(h.menus.popups[0].at, QPoint(0, gear->height() + 4));
    EXPECT_EQ(h.menus.popups[0].view, gear);
    EXPECT_TRUE(h.popover.shown);
    QAction* gaugeOnly = FindMenuAction(h.menus.popups[0].menu, {"菜单栏显示", "仅条形图"});
    ASSERT_TRUE(gaugeOnly);
    gaugeOnly->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(h.prefs->integerForKey(TLBarMode), 3);

    app.panelDidClickGear(nullptr);
    EXPECT_EQ(h.menus.popups.back().at, QPoint(0, 4));
    EXPECT_EQ(h.menus.popups.back().view, nullptr);

    // A tab picked in the panel is stored; the panel stays open.
    app.panel()->seg()->segment(1)->click();
    EXPECT_EQ(h.prefs->integerForKey(TLTab), 1);
    app.panel()->seg()->segment(0)->click();
    EXPECT_EQ(h.prefs->integerForKey(TLTab), 0);
    EXPECT_TRUE(h.popover.shown);

    // The panel's own system monitor button closes the panel first.
    app.panel()->activityMonitorButton()->click();
    EXPECT_FALSE(h.popover.shown);
    EXPECT_TRUE(h.monitor.handlers.empty());
    EXPECT_EQ(h.log, std::vector<std::string>{"open system monitor"});
}

TEST(AppDelegate, AboutClosesThePanelBeforeTheAlert) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    app.statusClicked();
    bool shownDuringAlert = true;
    size_t monitorsDuringAlert = 1;
    h.alerts.whileShown = [&] {
        shownDuringAlert = h.popover.shown;
        monitorsDuringAlert = h.monitor.handlers.size();
    };
    app.panelDidClickGear(app.panel()->gearButton());
    FindMenuAction(h.menus.popups.back().menu, {"关于潮汐"})->trigger();
    EXPECT_TRUE(h.alerts.shown.empty()); // not on top of the open menu
    QCoreApplication::processEvents();

    ASSERT_EQ(h.alerts.shown.size(), 1u);
    EXPECT_FALSE(shownDuringAlert);
    EXPECT_EQ(monitorsDuringAlert, 0u);
    EXPECT_EQ(h.alerts.shown[0].style, TLAlert::Style::Informational);
    EXPECT_EQ(h.alerts.shown[0].messageText, "潮汐  v1.2");
    EXPECT_EQ(h.alerts.shown[0].informativeText, TLAboutDescription() + "\n\n—— 作者 出品");

    // With the panel closed, only the alert.
    const int closes = h.popover.closes;
    choose(h, {"关于潮汐"});
    EXPECT_EQ(h.alerts.shown.size(), 2u);
    EXPECT_EQ(h.popover.closes, closes);
}

TEST(AppDelegate, StatusIconIsSentOnlyWhenItsPixelsChange) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    app.tick();
    EXPECT_EQ(h.statusItem.iconKeys.size(), 1u);
    // Nothing shown changed: no icon, title or tool tip is built or sent.
    EXPECT_EQ(h.statusItem.titles.size(), 1u);
    EXPECT_EQ(h.statusItem.toolTips.size(), 1u);

    // A change the tool tip shows, not the picture: text only.
    h.sample.wired += 300ull << 20;
    app.tick();
    EXPECT_EQ(h.statusItem.iconKeys.size(), 1u);
    ASSERT_EQ(h.statusItem.toolTips.size(), 2u);
    EXPECT_NE(h.statusItem.toolTips[1], h.statusItem.toolTips[0]);

    h.sample.usagePercent = 80;
    app.tick();
    ASSERT_EQ(h.statusItem.iconKeys.size(), 2u);
    EXPECT_NE(h.statusItem.iconKeys[1], h.statusItem.iconKeys[0]);
    EXPECT_EQ(h.statusItem.titles.back(), "80%");

    h.trayAppearance = TLAppearance::Light; // the tray's label colour changed
    app.tick();
    app.tick();
    EXPECT_EQ(h.statusItem.iconKeys.size(), 3u);
}

// A tray gets a square icon; a bar with room for more (the macOS menu bar) one wide picture of
// the gauge and the text, 22 points high, redrawn when the text changes.
TEST(AppDelegate, WhereTheBarHasRoomTheGaugeAndTextShareOnePicture) {
    AppHarness square;
    square.launch();
    ASSERT_FALSE(square.statusItem.lastIcon.availableSizes().isEmpty());
    const QSize slot = square.statusItem.lastIcon.availableSizes().first();
    EXPECT_EQ(slot.width(), slot.height());

    AppHarness h;
    h.statusItem.room = true;
    TLAppDelegate& app = h.launch();
    ASSERT_EQ(h.statusItem.iconKeys.size(), 1u);
    ASSERT_FALSE(h.statusItem.lastIcon.availableSizes().isEmpty());
    const QSize wide = h.statusItem.lastIcon.availableSizes().first();
    EXPECT_EQ(wide.height(), 22);
    EXPECT_GT(wide.width(), 2 * wide.height());
    EXPECT_EQ(h.statusItem.titles, std::vector<QString>{"50%"});

    app.tick(); // nothing changed: nothing sent
    EXPECT_EQ(h.statusItem.iconKeys.size(), 1u);
    h.sample.usagePercent = 80;
    app.tick();
    ASSERT_EQ(h.statusItem.iconKeys.size(), 2u);
    EXPECT_EQ(h.statusItem.titles.back(), "80%");
}

// Where the host shows the title as text in the bar's font (GNOME Shell), the square is the gauge
// alone: the figure is not drawn twice, and a new figure with the same gauge sends no picture.
// When the host changes (the shell's extension goes), the figure comes back into the picture.
TEST(AppDelegate, WhereTheHostShowsTheTitleThePictureIsTheGauge) {
    AppHarness h;
    h.statusItem.titleAsText = true;
    TLAppDelegate& app = h.launch();
    ASSERT_EQ(h.statusItem.iconKeys.size(), 1u);
    EXPECT_EQ(h.statusItem.titles.back(), "50%");
    const QImage shown = h.statusItem.lastIcon.pixmap(QSize(22, 22), 1.0).toImage();
    ASSERT_FALSE(shown.isNull());
    // The top rows, where a figure would stand over the gauge, are empty.
    int inked = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < shown.width(); ++x)
            inked += qAlpha(shown.pixel(x, y)) > 0;
    EXPECT_EQ(inked, 0);

    h.sample.usagePercent = 50.3; // the same gauge, the same "50%": nothing at all
    app.tick();
    EXPECT_EQ(h.statusItem.iconKeys.size(), 1u);

    h.statusItem.titleAsText = false;
    app.tick();
    ASSERT_EQ(h.statusItem.iconKeys.size(), 2u);
    const QImage square = h.statusItem.lastIcon.pixmap(QSize(22, 22), 1.0).toImage();
    inked = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < square.width(); ++x)
            inked += qAlpha(square.pixel(x, y)) > 0;
    EXPECT_GT(inked, 10);
}

// A display choice written through the store, by the settings menu or any other part of the
// program, shows at the very next tick.
TEST(AppDelegate, DisplayChoicesStoredAnywhereShowAtTheNextTick) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    EXPECT_EQ(h.statusItem.titles.back(), "50%");
    h.prefs->setBool(true, TLShowCPU);
    h.sample.cpuPercent = 12.5;
    app.tick();
    EXPECT_EQ(h.statusItem.titles.back(), "50% · 12%");
    app.toggleShowCPU(); // through the menu: the menu ticks at once
    EXPECT_EQ(h.statusItem.titles.back(), "50%");
    h.prefs->setInteger(2, TLBarMode);
    app.tick();
    EXPECT_EQ(h.statusItem.titles.back(), TLFormatBytesShort(h.sample.used));
}

// A display choice changed outside the program (the preference file edited while it runs) shows
// at the next tick, as one made in the menu does; the menu's own writes are not taken for one.
TEST(AppDelegate, AnEditedPreferenceFileShowsAtTheNextTick) {
    AppHarness h;
    {
        QFile file(h.prefsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nTLBarMode=0\n");
    }
    TLAppDelegate& app = h.launch();
    EXPECT_EQ(h.statusItem.titles.back(), "50%");
    const size_t icons = h.statusItem.iconKeys.size();

    QThread::msleep(10); // well after the file was read
    {
        QFile file(h.prefsPath() + ".new");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nTLBarMode=2\n");
    }
    ASSERT_EQ(::rename(QFile::encodeName(h.prefsPath() + ".new"), QFile::encodeName(h.prefsPath())),
              0);
    QElapsedTimer clock;
    clock.start();
    while (h.prefs->integerForKey(TLBarMode) != 2 && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(h.statusItem.titles.back(), "50%"); // nothing before the tick
    app.tick();
    EXPECT_EQ(h.statusItem.titles.back(), TLFormatBytesShort(h.sample.used)); // "8.0G"
    EXPECT_EQ(h.statusItem.iconKeys.size(), icons + 1); // the figure, not the gauge

    // Back through the menu, then a tick: the menu's choice stands.
    app.setBarMode(TLStatusBarMode::PercentOnly);
    EXPECT_EQ(h.statusItem.titles.back(), "50%");
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    app.tick();
    EXPECT_EQ(h.statusItem.titles.back(), "50%");
    EXPECT_EQ(h.prefs->integerForKey(TLBarMode), 1);
}

// The item's own menu (what a StatusNotifierItem host shows on a right click without telling us)
// is the settings menu, kept current: after a choice made in it, and when a host is about to
// show it after a change made elsewhere.
TEST(AppDelegate, ExportedMenuIsTheCurrentSettingsMenu) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    QMenu* exported = h.statusItem.contextMenu;
    ASSERT_TRUE(exported);
    EXPECT_EQ(exported, app.statusMenu());
    std::unique_ptr<QMenu> fresh(app.settingsMenu());
    EXPECT_EQ(DescribeMenu(exported), DescribeMenu(fresh.get()));
    // The choices of one setting are marked as such for a host that draws radio items; the
    // switches are not.
    for (const QStringList& path :
         {QStringList{"菜单栏显示", "仅百分比"}, QStringList{"菜单栏显示", "百分比 = 内存压力"},
          QStringList{"刷新频率", "每 2 秒"}, QStringList{"进程列表长度", "5 个进程"}}) {
        const QAction* a = FindMenuAction(exported, path);
        ASSERT_TRUE(a) << path.join('/').toStdString();
        EXPECT_TRUE(a->property(TLSingleChoiceProperty).toBool()) << path.join('/').toStdString();
    }
    for (const QStringList& path :
         {QStringList{"菜单栏显示", "使用单色图标"}, QStringList{"开机时自动启动"},
          QStringList{"内存压力严重时通知"}}) {
        const QAction* a = FindMenuAction(exported, path);
        ASSERT_TRUE(a);
        EXPECT_TRUE(a->isCheckable());
        EXPECT_FALSE(a->property(TLSingleChoiceProperty).toBool()) << path.join('/').toStdString();
    }

    // A choice in the exported menu stores and refreshes like the popped-up one, then the menu
    // shows it.
    QAction* twelve = FindMenuAction(exported, {"进程列表长度", "12 个进程"});
    ASSERT_TRUE(twelve);
    twelve->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(h.prefs->integerForKey(TLRows), 12);
    EXPECT_EQ(app.panel()->rowCount(), 12);
    EXPECT_TRUE(DescribeMenu(exported).contains(QStringLiteral("[x] 12 个进程")));
    EXPECT_TRUE(DescribeMenu(exported).contains(QStringLiteral("[ ] 8 个进程")));

    // A change made elsewhere (the start-at-login file) shows when the menu is about to show.
    QDir().mkpath(QFileInfo(h.agentPath()).path());
    QFile agent(h.agentPath());
    ASSERT_TRUE(agent.open(QIODevice::WriteOnly));
    agent.close();
    EXPECT_TRUE(DescribeMenu(exported).contains(QStringLiteral("[ ] 开机时自动启动")));
    emit exported->aboutToShow();
    EXPECT_TRUE(DescribeMenu(exported).contains(QStringLiteral("[x] 开机时自动启动")));
    fresh.reset(app.settingsMenu());
    EXPECT_EQ(DescribeMenu(exported), DescribeMenu(fresh.get()));

    // Nothing changed: the items stay the same objects (a host keeps clicking valid ones).
    QAction* before = FindMenuAction(exported, {"退出"});
    emit exported->aboutToShow();
    EXPECT_EQ(FindMenuAction(exported, {"退出"}), before);
    before->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(h.terminations, 1);
}

// No tray host: after a few seconds the panel shows as a window titled 潮汐 and stays when
// the panel asks to close (its system monitor button, About); a host appearing puts it back into
// the tray; a host that went with the session bus brings the window at once; closing the window
// quits.
TEST(AppDelegate, WithoutATrayThePanelIsAWindow) {
    AppHarness h;
    h.statusItem.available = false;
    TLAppDelegate& app = h.launch();
    h.scheduler.advance(3.0);
    EXPECT_FALSE(h.popover.shown);
    h.scheduler.advance(1.5);
    ASSERT_TRUE(h.popover.shown);
    EXPECT_TRUE(h.popover.asWindow);
    EXPECT_EQ(h.popover.windowTitle, "潮汐");
    EXPECT_EQ(h.popover.contents.back(), app.panel()->view());
    EXPECT_TRUE(app.showsWithoutTray());
    EXPECT_TRUE(h.monitor.handlers.empty()); // no outside click closes a window
    // The window is live: ticks render into it and sample processes.
    const int processes = h.processSamples;
    h.queue.runOne();
    app.tick();
    h.queue.runOne();
    EXPECT_GT(h.processSamples, processes);
    app.panelWantsClose();
    EXPECT_TRUE(h.popover.shown);

    // A tray host starts: the window goes, the next click opens the popover under the icon.
    h.statusItem.setAvailable(true);
    EXPECT_FALSE(h.popover.shown);
    EXPECT_FALSE(app.showsWithoutTray());
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_TRUE(h.popover.shown);
    EXPECT_FALSE(h.popover.asWindow);
    h.statusItem.click(TLStatusItem::Button::Left);

    // The host goes away for good: the window comes back; a host back in time keeps it away.
    h.statusItem.setAvailable(false);
    h.statusItem.setAvailable(true);
    h.scheduler.advance(5.0);
    EXPECT_FALSE(h.popover.shown);
    h.statusItem.setAvailable(false);
    h.scheduler.advance(5.0);
    ASSERT_TRUE(h.popover.isWindow());
    h.statusItem.setAvailable(true);
    h.statusItem.mayReturnSoon = false;
    h.statusItem.setAvailable(false);
    ASSERT_TRUE(h.popover.isWindow());
    h.popover.userClosesWindow();
    EXPECT_EQ(h.terminations, 1);
}

// The application can end with work still pending: the panel's second process sample, an outside
// click waiting for the tray's own click, the wait for a tray host, a process sample on its queue
// and a settings action queued behind its menu. None of it acts afterwards, and the desktop's
// objects are left with no monitor and no menu of the application's.
TEST(AppDelegate, EndingTheApplicationDropsItsPendingWork) {
    AppHarness h;
    h.statusItem.available = false;
    h.statusItem.rect = QRect(); // a tray that draws the icon itself
    TLAppDelegate& app = h.launch();
    ASSERT_TRUE(h.statusItem.contextMenu);
    app.statusClicked();
    h.monitor.fire();
    std::unique_ptr<QMenu> menu(app.settingsMenu());
    QAction* barMode = FindMenuAction(menu.get(), {"菜单栏显示", "仅百分比"});
    ASSERT_TRUE(barMode);
    barMode->trigger();
    ASSERT_EQ(h.scheduler.pending.size(), 3u); // the refresh, the outside close, the tray wait
    ASSERT_EQ(h.queue.jobs.size(), 1u);

    h.app.reset();
    EXPECT_TRUE(h.monitor.handlers.empty());
    EXPECT_FALSE(h.statusItem.contextMenu);
    const int systemSamples = h.systemSamples;
    const int closes = h.popover.closes;
    h.scheduler.advance(10);
    while (h.queue.runOne()) {
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(h.systemSamples, systemSamples); // no window shown for want of a tray
    EXPECT_EQ(h.popover.closes, closes);
    EXPECT_FALSE(h.popover.asWindow);
    EXPECT_EQ(h.prefs->integerForKey(TLBarMode), 0);
    EXPECT_EQ(h.processReleases, 0);
}

// The tool tip stays away while the panel is open; "打开活动监视器" says so when no system
// monitor could be started, from the menu and from the panel's button.
TEST(AppDelegate, ToolTipAwayWhileOpenAndAMissingSystemMonitorIsTold) {
    AppHarness h;
    TLAppDelegate& app = h.launch();
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_TRUE(h.statusItem.toolTipSuppressed);
    h.statusItem.click(TLStatusItem::Button::Left);
    EXPECT_FALSE(h.statusItem.toolTipSuppressed);

    choose(h, {"打开活动监视器"});
    EXPECT_TRUE(h.alerts.shown.empty());
    h.launcher.found = false;
    choose(h, {"打开活动监视器"});
#ifndef __APPLE__
    ASSERT_EQ(h.alerts.shown.size(), 1u);
    EXPECT_EQ(h.alerts.shown[0].messageText, TLNoSystemMonitorAlert()->messageText);
    app.statusClicked();
    app.panel()->activityMonitorButton()->click();
    EXPECT_FALSE(h.popover.shown);
    EXPECT_EQ(h.alerts.shown.size(), 2u);
#endif
}

namespace {

// A settings change that cannot reach the file is told once per run, with the file's path; every
// later change tries the file again, and once it can be written, all of them are in it.
TEST(AppDelegate, SettingsThatCannotBeSavedAreToldOncePerRun) {
    AppHarness h;
    ASSERT_TRUE(QDir().mkpath(h.prefsPath())); // a directory where the file should be
    TLAppDelegate& app = h.launch();
    choose(h, {"菜单栏显示", "仅百分比"});
    ASSERT_EQ(h.alerts.shown.size(), 1u);
    const TLAlert& alert = h.alerts.shown[0];
    EXPECT_EQ(alert.style, TLAlert::Style::Warning);
    EXPECT_EQ(alert.messageText, "无法保存设置");
    EXPECT_EQ(alert.informativeText,
              "设置无法写入 " + h.prefsPath() +
                  "。更改在本次运行中有效，但下次启动时会恢复为原来的设置。");
    EXPECT_TRUE(alert.buttons.isEmpty());
    EXPECT_EQ(h.prefs->integerForKey(TLBarMode), 1); // in effect for this run

    choose(h, {"菜单栏显示", "仅已用容量"});
    app.panelDidSelectTab(TLPanelTab::Energy);
    EXPECT_EQ(h.alerts.shown.size(), 1u); // once per run

    ASSERT_TRUE(QDir(h.prefsPath()).removeRecursively());
    choose(h, {"菜单栏显示", "使用单色图标"});
    EXPECT_EQ(h.alerts.shown.size(), 1u);
    TLPreferences reopened(h.prefsPath());
    EXPECT_EQ(reopened.integerForKey(TLBarMode), 2);
    EXPECT_EQ(reopened.integerForKey(TLTab), 1);
    EXPECT_TRUE(reopened.boolForKey(TLMono));
}

// Without a place for the file (no home) the user is told once, a moment after the start, and
// the choices of the run hold without any alert more.
TEST(AppDelegate, SettingsWithoutAPlaceAreToldOnceAtTheStart) {
    AppHarness h;
    h.prefs = std::make_unique<TLPreferences>(QString());
    TLAppDelegate& app = h.launch();
    EXPECT_TRUE(h.alerts.shown.empty());
    while (h.alerts.shown.empty() && h.scheduler.clock < 2 && h.scheduler.runNext()) {
    }
    ASSERT_EQ(h.alerts.shown.size(), 1u);
    EXPECT_EQ(h.alerts.shown[0].informativeText,
              "没有可以保存设置的位置（未设置 "
              "HOME）。更改在本次运行中有效，但下次启动时会恢复为默认设置。");
    app.setBarMode(TLStatusBarMode::PercentOnly);
    EXPECT_EQ(h.alerts.shown.size(), 1u);
    EXPECT_EQ(h.prefs->integerForKey(TLBarMode), 1);
}

} // namespace
