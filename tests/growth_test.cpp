// Which processes keep growing: the rule over made-up histories, the tracker over samples on a
// virtual clock, and what the panel's rows and menus show of it.
#include "app_fakes.h"
#include "panel/TLGrowthFigure.h"
#include "sampling/TLGrowth.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"

#include <QAccessible>
#include <QMenu>
#include <QWidgetAction>
#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint64_t MB = 1ULL << 20;

TLGrowthSeries series(const std::vector<uint64_t>& megabytes) {
    TLGrowthSeries s;
    double t = 0;
    for (uint64_t m : megabytes) {
        s.push({t, m * MB});
        t += 60;
    }
    return s;
}

TLProc proc(int32_t pid, uint64_t start, const char* name, uint64_t megabytes) {
    TLProc p;
    p.pid = pid;
    p.startTime = start;
    p.name = name;
    p.memory = megabytes * MB;
    return p;
}

} // namespace

TEST(Growth, TheRuleTellsSteadyGrowthFromSpikesSawtoothsAndSmallChanges) {
    struct Case {
        const char* what;
        std::vector<uint64_t> mb;
        bool growing;
    } cases[] = {
        {"300 MB over 6 minutes", {1000, 1050, 1100, 1150, 1200, 1250, 1300}, true},
        {"steady over the window, one step flat", {500, 600, 700, 700, 800, 900, 1000}, true},
        {"a leak with a small collection", {800, 900, 1000, 950, 1100, 1200}, true},
        {"three steps are too few to tell", {1000, 1100, 1200}, false},
        {"a spike at the end", {1000, 1000, 1000, 1000, 1000, 1600}, false},
        {"a spike that went", {1000, 1000, 1800, 1000, 1000, 1000}, false},
        {"a sawtooth", {1000, 1200, 1400, 1600, 1000, 1200, 1400, 1600, 1250}, false},
        {"big but under 20 %", {4000, 4100, 4200, 4300, 4400, 4500}, false},
        {"20 % but under 200 MB", {100, 120, 140, 160, 180, 200}, false},
        {"shrinking", {1600, 1500, 1400, 1300}, false},
        {"up in half the steps only", {1000, 1300, 1300, 1600, 1600}, false},
    };
    for (const Case& c : cases) {
        const TLGrowthVerdict v = TLJudgeGrowth(series(c.mb));
        EXPECT_EQ(v.growing, c.growing) << c.what;
        EXPECT_EQ(v.change, (static_cast<int64_t>(c.mb.back()) - static_cast<int64_t>(c.mb[0])) *
                                static_cast<int64_t>(MB))
            << c.what;
    }
    // The window keeps its newest points: a series fed for an hour holds at most its capacity.
    TLGrowthSeries s;
    for (int i = 0; i < 60; ++i)
        s.push({i * 60.0, static_cast<uint64_t>(i) * MB});
    ASSERT_EQ(s.size(), TLGrowthSeries::kCapacity);
    EXPECT_EQ(s[0].time, (60 - TLGrowthSeries::kCapacity) * 60.0);
    s.dropBefore(59 * 60.0 - TLGrowthWindow);
    EXPECT_EQ(s.size(), 11u);
}

TEST(Growth, TheTrackerFollowsTheLargestByProcessAndByApplication) {
    TLGrowthTracker tracker;
    // A leak (pid 7) among 40 steady processes; two processes of one application that grow
    // together; samples every 2 s, of which one a minute makes a point.
    auto sampleAt = [&](int minute, bool restarted, bool leakSmall) {
        std::vector<TLProc> procs;
        for (int i = 0; i < 40; ++i)
            procs.push_back(proc(100 + i, 5, "steady", 300 + static_cast<uint64_t>(i)));
        const uint64_t leak = leakSmall ? 10 : 600 + 60 * static_cast<uint64_t>(minute);
        procs.push_back(proc(7, restarted ? 99 : 1, "leaky", leak));
        auto app = std::make_shared<TLAppIdentity>();
        app->key = "app:org.example.Chat";
        app->id = "org.example.Chat";
        app->name = "Chat";
        for (int32_t pid : {20, 21}) {
            procs.push_back(proc(pid, 3, "chat", 200 + 30 * static_cast<uint64_t>(minute)));
            procs.back().app = app;
        }
        return procs;
    };
    double now = 1000;
    for (int second = 0; second <= 360; second += 2)
        tracker.record(now + second, sampleAt(second / 60, false, false));
    now += 360;
    EXPECT_EQ(tracker.processes().size(), TLGrowthTracked);
    const TLGrowthTracker::Tracked* leak = tracker.process(7, 1);
    ASSERT_NE(leak, nullptr);
    EXPECT_EQ(leak->series.size(), 7u); // one point a minute, not one a tick
    EXPECT_TRUE(leak->verdict.growing);
    EXPECT_EQ(TLGrowthNote(*leak), QStringLiteral("6 分钟内增长 300.0 MB"));
    // The application's two processes grow by 150 MB each: neither is growing alone, the
    // application (300 MB from 400 MB) is.
    EXPECT_FALSE(tracker.process(20, 3)->verdict.growing);
    const TLGrowthTracker::Tracked* chat = tracker.app("app:org.example.Chat");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->name, "Chat");
    EXPECT_TRUE(chat->verdict.growing);
    EXPECT_EQ(tracker.processes().front().name, "leaky"); // largest first
    EXPECT_EQ(tracker.processes().front().memory, 960 * MB); // as last seen, between points

    // Restarted with a new start time on the same pid: a new process, with a history of its own.
    tracker.record(now += 60, sampleAt(7, true, false));
    EXPECT_EQ(tracker.process(7, 1), nullptr);
    ASSERT_NE(tracker.process(7, 99), nullptr);
    EXPECT_EQ(tracker.process(7, 99)->series.size(), 1u);
    EXPECT_FALSE(tracker.process(7, 99)->verdict.growing);

    // Out of the largest 32 and back: its history starts again.
    tracker.record(now += 60, sampleAt(8, true, true));
    EXPECT_EQ(tracker.process(7, 99), nullptr);
    for (int minute = 9; minute < 12; ++minute)
        tracker.record(now += 60, sampleAt(minute, true, false));
    EXPECT_EQ(tracker.process(7, 99)->series.size(), 3u);
    EXPECT_FALSE(tracker.process(7, 99)->verdict.growing);
}

TEST(Growth, AGrowingProcessIsMarkedInItsRowAndItsMenuShowsTheHistory) {
    AppHarness h;
    h.procs = {proc(42, 1, "leaky", 1000), proc(43, 1, "quiet", 500)};
    TLAppDelegate& app = h.launch();
    // Background samples once a minute while the panel is closed, the first a minute after the
    // start: the ticks in between take none.
    // A sample finishes only every tenth second: the ticks meanwhile start no other.
    for (int second = 0; second <= 6 * 60; second += 2) {
        h.scheduler.clock = second;
        h.procs[0].memory = (1000 + 50 * static_cast<uint64_t>(second / 60)) * MB;
        app.tick();
        EXPECT_LE(h.queue.jobs.size(), 1u);
        if (second % 10 == 0) h.queue.runOne();
    }
    EXPECT_EQ(h.processSamples, 6);
    EXPECT_EQ(app.panel()->rows().size(), 12);

    // The sample taken on opening shows the row marked, its tool tip and name saying so.
    h.procs[0].memory = 1300 * MB;
    h.statusItem.click(TLStatusItem::Button::Left);
    h.queue.runOne();
    TLProcRow* row = app.panel()->rows()[0];
    ASSERT_EQ(row->name(), QStringLiteral("leaky"));
    EXPECT_TRUE(row->nameLabel()->text().endsWith(QStringLiteral(" ↑")));
    EXPECT_EQ(row->toolTip(), QStringLiteral("5 分钟内增长 250.0 MB"));
    const QString spoken = QAccessible::queryAccessibleInterface(row)->text(QAccessible::Name);
    EXPECT_TRUE(spoken.contains(QStringLiteral("增长"))) << spoken.toStdString();
    EXPECT_TRUE(app.panel()->rows()[1]->growthNote().isEmpty());

    // Its menu: the heading, the history and its caption, then the commands.
    std::unique_ptr<QMenu> menu(app.panel()->menuForProc(app.panel()->lastProcs()[0]));
    const QList<QAction*> items = menu->actions();
    ASSERT_GE(items.size(), 5);
    auto* graph = qobject_cast<QWidgetAction*>(items[2]);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->text(), QStringLiteral("内存历史，5 分钟内增长 250.0 MB"));
    EXPECT_EQ(graph->defaultWidget()->findChild<TLSparkView*>()->values().size(), 6);
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(items[4]->text(), QStringLiteral("复制进程名"));
}

TEST(Growth, SnapshotModeKeepsNoHistory) {
    AppHarness h;
    h.snapshotDir = h.dir.filePath(QStringLiteral("shots"));
    h.procs = {proc(42, 1, "leaky", 1000)};
    TLAppDelegate& app = h.launch();
    while (h.queue.runOne()) {
    }
    const int before = h.processSamples;
    ASSERT_FALSE(h.procs.empty());
    for (int second = 0; second <= 180; second += 2) {
        h.scheduler.clock = second;
        app.tick();
        while (h.queue.runOne()) {
        }
    }
    EXPECT_GT(h.processSamples, before); // the open panel's own
    EXPECT_TRUE(app.growth().processes().empty());
    EXPECT_TRUE(app.panel()->rows()[0]->growthNote().isEmpty());
}
