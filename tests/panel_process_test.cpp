// The panel's process list, its tabs and row count, and the per-process commands.
#include "panel_fakes.h"

#include "format/TLColor.h"
#include "format/TLFormat.h"
#include "panel/TLPanelControls.h"
#include "widgets/TLProcRow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <limits>

namespace {

constexpr uint64_t MiB = 1ull << 20;
#ifdef __APPLE__
const QString kNoteMemory =
    QStringLiteral("内存 = 实际占用（footprint），与活动监视器一致；右键可结束进程");
const QString kNoteEnergy =
    QStringLiteral("能耗为近似值：CPU 占用 + 空闲唤醒加权（Apple 公式未公开）");
const QString kKillAdvice = QStringLiteral("系统进程通常需要管理员权限，请在活动监视器中操作。");
#else
const QString kNoteMemory =
    QStringLiteral("内存 = 实际占用（匿名+共享+交换），不计缓存；右键可结束进程");
const QString kNoteEnergy = QStringLiteral("能耗为近似值：CPU 占用 + 空闲唤醒加权（非实测功耗）");
const QString kKillAdvice = QStringLiteral("系统进程通常需要管理员权限，请在终端中用 sudo 操作。");
#endif

TLProc proc(int32_t pid, const char* name, uint64_t memory, double energy, bool approximate = false,
            uint64_t startTime = 0) {
    TLProc p;
    p.pid = pid;
    p.name = name;
    p.memory = memory;
    p.energy = energy;
    p.approximate = approximate;
    p.startTime = startTime;
    return p;
}

// Sample order differs from both sort orders.
std::vector<TLProc> sample() {
    return {proc(11, "editor", 300 * MiB, 2.0), proc(12, "browser", 1200 * MiB, 9.5),
            proc(13, "player", 100 * MiB, 12.0), proc(14, "daemon", 600 * MiB, 0.5, true),
            proc(15, "shell", 200 * MiB, 4.0)};
}

QStringList shownNames(const TLPanelController& panel) {
    QStringList names;
    for (TLProcRow* row : panel.rows())
        if (!row->isHidden()) names << row->name();
    return names;
}

QStringList shownValues(const TLPanelController& panel) {
    QStringList values;
    for (TLProcRow* row : panel.rows())
        if (!row->isHidden()) values << row->valueLabel()->text();
    return values;
}

// The actions of a menu, separators included.
QList<QAction*> items(QMenu* menu) {
    return menu->actions();
}

} // namespace

// --- Sorting, scaling, tabs ---------------------------------------------------------------------

TEST(PanelProcesses, MemoryTabSortsScalesAndLabels) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> procs = sample();
    f.panel.renderProcesses(&procs);

    EXPECT_EQ(shownNames(f.panel), (QStringList{"browser", "daemon", "editor", "shell", "player"}));
    EXPECT_EQ(shownValues(f.panel),
              (QStringList{"1.17 GB", "~600.0 MB", "300.0 MB", "200.0 MB", "100.0 MB"}));
    const TLProcRow* top = f.panel.rows()[0];
    EXPECT_EQ(top->pid(), 12);
    EXPECT_EQ(top->fraction(), 1.0);
    EXPECT_EQ(f.panel.rows()[1]->fraction(), 0.5);
    EXPECT_DOUBLE_EQ(f.panel.rows()[4]->fraction(), 100.0 / 1200);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(f.panel.rows()[i]->tint(), TLColorApp());
    EXPECT_EQ(f.panel.footNote()->text(), kNoteMemory);
    EXPECT_EQ(f.panel.lastProcs().size(), 5u);
    // Five processes with eight rows: rows 5 to 11 hidden.
    for (int i = 5; i < 12; ++i)
        EXPECT_TRUE(f.panel.rows()[i]->isHidden());
}

TEST(PanelProcesses, EnergyTabSortsByEnergyWithOneDecimal) {
    FakePanel f;
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.view();
    const std::vector<TLProc> procs = sample();
    f.panel.renderProcesses(&procs);
    EXPECT_EQ(shownNames(f.panel), (QStringList{"player", "browser", "shell", "editor", "daemon"}));
    EXPECT_EQ(shownValues(f.panel), (QStringList{"12.0", "9.5", "4.0", "2.0", "~0.5"}));
    EXPECT_EQ(f.panel.rows()[0]->fraction(), 1.0);
    EXPECT_DOUBLE_EQ(f.panel.rows()[1]->fraction(), 9.5 / 12.0);
    EXPECT_EQ(f.panel.rows()[0]->tint(), TLColorCompressed());
    EXPECT_EQ(f.panel.footNote()->text(), kNoteEnergy);
}

TEST(PanelProcesses, SetTabReSortsTheSameSampleWithoutTellingTheDelegate) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> procs = sample();
    f.panel.renderProcesses(&procs);
    f.panel.setTab(TLPanelTab::Energy);
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 1);
    EXPECT_EQ(shownNames(f.panel).front(), "player");
    EXPECT_EQ(f.panel.footNote()->text(), kNoteEnergy);
    f.panel.setTab(TLPanelTab::Memory);
    EXPECT_EQ(f.panel.seg()->selectedSegment(), 0);
    EXPECT_EQ(shownNames(f.panel).front(), "browser");
    EXPECT_TRUE(f.delegate.tabs.empty());
}

TEST(PanelProcesses, ClickingASegmentReRendersThenTellsTheDelegate) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> procs = sample();
    f.panel.renderProcesses(&procs);
    QString topWhenTold;
    f.delegate.onSelectTab = [&] { topWhenTold = f.panel.rows()[0]->name(); };

    f.panel.seg()->segment(1)->click();
    EXPECT_EQ(f.panel.tab(), TLPanelTab::Energy);
    EXPECT_EQ(f.delegate.tabs, (std::vector<int64_t>{1}));
    EXPECT_EQ(topWhenTold, "player");

    f.panel.seg()->segment(0)->click();
    EXPECT_EQ(f.panel.tab(), TLPanelTab::Memory);
    EXPECT_EQ(f.delegate.tabs, (std::vector<int64_t>{1, 0}));
    EXPECT_EQ(topWhenTold, "browser");
}

TEST(PanelProcesses, RowCountIsClampedAndReRendersTheLastSample) {
    FakePanel f;
    const std::pair<int64_t, int64_t> cases[] = {{0, 3},   {2, 3},    {3, 3},  {4, 4},
                                                 {13, 12}, {100, 12}, {-5, 3}, {12, 12}};
    for (const auto& [given, stored] : cases) {
        f.panel.setRowCount(given);
        EXPECT_EQ(f.panel.rowCount(), stored) << given;
    }

    f.panel.setRowCount(8);
    f.panel.view();
    std::vector<TLProc> many;
    for (int i = 0; i < 15; ++i)
        many.push_back(proc(100 + i, "p", (20 - i) * MiB, 0));
    f.panel.renderProcesses(&many);
    EXPECT_EQ(shownNames(f.panel).size(), 8);
    f.panel.setRowCount(3);
    EXPECT_EQ(shownNames(f.panel).size(), 3);
    f.panel.setRowCount(12);
    EXPECT_EQ(shownNames(f.panel).size(), 12);
    EXPECT_EQ(f.panel.rows()[11]->pid(), 111);
}

TEST(PanelProcesses, EmptyOrNullSampleHidesEveryRowAndKeepsTheNote) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> procs = sample();
    f.panel.renderProcesses(&procs);
    f.panel.renderProcesses(nullptr);
    EXPECT_TRUE(shownNames(f.panel).isEmpty());
    EXPECT_TRUE(f.panel.lastProcs().empty());
    EXPECT_EQ(f.panel.footNote()->text(), kNoteMemory);

    const std::vector<TLProc> none;
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.renderProcesses(&none);
    EXPECT_TRUE(shownNames(f.panel).isEmpty());
    EXPECT_EQ(f.panel.footNote()->text(), kNoteEnergy);
}

TEST(PanelProcesses, AllZeroKeysScaleByOne) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> zeros = {proc(1, "a", 0, 0), proc(2, "b", 0, 0)};
    f.panel.renderProcesses(&zeros);
    EXPECT_EQ(f.panel.rows()[0]->fraction(), 0.0);
    EXPECT_EQ(shownValues(f.panel), (QStringList{"0 B", "0 B"}));
    f.panel.setTab(TLPanelTab::Energy);
    EXPECT_EQ(shownValues(f.panel), (QStringList{"0.0", "0.0"}));
    EXPECT_EQ(f.panel.rows()[0]->fraction(), 0.0);
    EXPECT_EQ(f.panel.rows()[1]->fraction(), 0.0);
}

TEST(PanelProcesses, EnergyThatIsNotANumberSortsLast) {
    FakePanel f;
    f.panel.setTab(TLPanelTab::Energy);
    f.panel.view();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<TLProc> procs;
    for (int i = 0; i < 40; ++i)
        procs.push_back(proc(i + 1, i % 3 ? "x" : "nan", 0, i % 3 ? i : nan));
    f.panel.renderProcesses(&procs);
    EXPECT_EQ(f.panel.rows()[0]->pid(), 39); // energy 38; 39 is not a number
    EXPECT_EQ(f.panel.rows()[0]->fraction(), 1.0);
    for (TLProcRow* row : f.panel.rows())
        if (!row->isHidden()) {
            EXPECT_EQ(row->name(), "x");
        }
}

TEST(PanelProcesses, NothingIsRememberedBeforeTheViewIsLoaded) {
    FakePanel f;
    const std::vector<TLProc> procs = sample();
    f.panel.renderProcesses(&procs);
    EXPECT_TRUE(f.panel.lastProcs().empty());
    f.panel.view();
    EXPECT_TRUE(f.panel.rows()[0]->name().isEmpty());
    EXPECT_FALSE(f.panel.rows()[0]->isHidden()); // shown, empty, until a sample arrives
}

// --- Context menu -------------------------------------------------------------------------------

TEST(PanelMenu, HeadingItemsAndTheirData) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> procs = {proc(512, "Safari", 10 * MiB, 1, false, 4242)};
    f.panel.renderProcesses(&procs);
    QMenu* menu = f.panel.rows()[0]->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->title().isEmpty());

    const QList<QAction*> actions = items(menu);
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0]->text(), "Safari  (PID 512)");
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "复制进程名");
    EXPECT_EQ(actions[3]->text(), "结束进程…");
    EXPECT_EQ(actions[4]->text(), "强制结束进程…");
    for (QAction* action : actions)
        EXPECT_TRUE(action->shortcut().isEmpty());
    EXPECT_EQ(actions[2]->data().toString(), "Safari");
    EXPECT_EQ(TLProcTargetFrom(actions[3]->data()),
              (TLProcTarget{512, QStringLiteral("Safari"), TLEndSignal::Terminate, 4242}));
    EXPECT_EQ(TLProcTargetFrom(actions[4]->data()).signal, TLEndSignal::Kill);
    // Anything else an item may carry is no target: nothing would be signalled.
    EXPECT_EQ(TLProcTargetFrom(actions[2]->data()).pid, 0);
    EXPECT_EQ(TLProcTargetFrom(QVariant()).pid, 0);
    // The known start time is used as it is: nothing was read.
    EXPECT_EQ(f.processes.startTimeReads, 0);
}

TEST(PanelMenu, NamesAreNeitherMnemonicsNorFormatArguments) {
    FakePanel f;
    QMenu* menu = f.panel.menuForProc(proc(7, "a&b %1%2", 0, 0));
    EXPECT_EQ(menu->actions()[0]->text(), "a&&b %1%2  (PID 7)");
    EXPECT_EQ(menu->actions()[2]->data().toString(), "a&b %1%2");
    delete menu;
}

TEST(PanelMenu, EachRenderGivesEachRowAFreshMenu) {
    FakePanel f;
    f.panel.view();
    std::vector<TLProc> procs = {proc(1, "one", 2 * MiB, 0), proc(2, "two", MiB, 0)};
    f.panel.renderProcesses(&procs);
    QPointer<QMenu> first = f.panel.rows()[0]->menu();
    procs[0].memory = 0; // "two" is on top now
    f.panel.renderProcesses(&procs);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(f.panel.rows()[0]->menu()->actions()[0]->text(), "two  (PID 2)");
}

// --- Commands -----------------------------------------------------------------------------------

TEST(PanelCommands, CopyNamePutsExactlyTheNameOnTheClipboard) {
    FakePanel f;
    QMenu* menu = f.panel.menuForProc(proc(3, "微信 Helper", 0, 0));
    f.panel.copyName(menu->actions()[2]);
    QAction empty;
    f.panel.copyName(&empty);
    EXPECT_EQ(f.clipboard.texts, (std::vector<QString>{"微信 Helper", ""}));
    delete menu;
}

TEST(PanelCommands, EndProcessAsksThenSendsSigterm) {
    FakePanel f;
    f.processes.startTimes[512] = 99;
    QMenu* menu = f.panel.menuForProc(proc(512, "Safari", 0, 0, false, 99));
    f.panel.killProc(menu->actions()[3]);

    ASSERT_EQ(f.alerts.shown.size(), 1u);
    const TLAlert& confirm = f.alerts.shown[0];
    EXPECT_EQ(confirm.style, TLAlert::Style::Warning);
    EXPECT_EQ(confirm.messageText, "确定要结束「Safari」吗？");
    EXPECT_EQ(confirm.informativeText, "进程会收到退出请求，通常可以正常保存并退出。");
    EXPECT_EQ(confirm.buttons, (QStringList{"结束进程", "取消"}));
    EXPECT_EQ(f.processes.signalsSent, (std::vector<std::pair<int32_t, int>>{{512, SIGTERM}}));
    delete menu;
}

TEST(PanelCommands, ForceEndAsksThenSendsSigkill) {
    FakePanel f;
    f.processes.startTimes[77] = 5;
    QMenu* menu = f.panel.menuForProc(proc(77, "hung", 0, 0, false, 5));
    f.panel.killProc(menu->actions()[4]);
    ASSERT_EQ(f.alerts.shown.size(), 1u);
    EXPECT_EQ(f.alerts.shown[0].messageText, "确定要强制结束「hung」吗？");
    EXPECT_EQ(f.alerts.shown[0].informativeText, "强制结束会立即终止进程，未保存的内容将会丢失。");
    EXPECT_EQ(f.alerts.shown[0].buttons, (QStringList{"强制结束", "取消"}));
    EXPECT_EQ(f.processes.signalsSent, (std::vector<std::pair<int32_t, int>>{{77, SIGKILL}}));
    delete menu;
}

TEST(PanelCommands, CancelSendsNothing) {
    FakePanel f;
    f.processes.startTimes[512] = 99;
    QMenu* menu = f.panel.menuForProc(proc(512, "Safari", 0, 0, false, 99));
    f.alerts.answers = {TLAlertFirstButtonReturn + 1};
    f.panel.killProc(menu->actions()[3]);
    EXPECT_EQ(f.alerts.shown.size(), 1u);
    EXPECT_TRUE(f.processes.signalsSent.empty());
    delete menu;
}

TEST(PanelCommands, RefusedSignalShowsTheFailureAlert) {
    FakePanel f;
    f.processes.startTimes[1] = 10;
    f.processes.deliver = false;
    QMenu* menu = f.panel.menuForProc(proc(1, "systemd", 0, 0, false, 10));
    f.panel.killProc(menu->actions()[3]);
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    EXPECT_EQ(f.processes.signalsSent.size(), 1u);
    const TLAlert& failure = f.alerts.shown[1];
    EXPECT_EQ(failure.messageText, "无法结束该进程");
    EXPECT_EQ(failure.informativeText, kKillAdvice);
    EXPECT_TRUE(failure.buttons.isEmpty());
    delete menu;
}

TEST(PanelCommands, PidsOfZeroOrBelowAreNeverSignalled) {
    for (int32_t pid : {0, -1, -1234}) {
        FakePanel f;
        f.processes.startTimes[pid] = 10; // even if something claims to be there
        QMenu* menu = f.panel.menuForProc(proc(pid, "group", 0, 0, false, 10));
        f.panel.killProc(menu->actions()[4]);
        EXPECT_TRUE(f.processes.signalsSent.empty()) << pid;
        ASSERT_EQ(f.alerts.shown.size(), 2u);
        EXPECT_EQ(f.alerts.shown[1].messageText, "无法结束该进程");
        delete menu;
    }
}

TEST(PanelCommands, AProcessThatTookOverThePidIsNotSignalled) {
    FakePanel f;
    f.processes.startTimes[300] = 1000;
    QMenu* menu = f.panel.menuForProc(proc(300, "old", 0, 0, false, 1000));
    f.processes.startTimes[300] = 2000; // the old process ended; a new one got its pid
    f.panel.killProc(menu->actions()[3]);
    EXPECT_TRUE(f.processes.signalsSent.empty());
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    EXPECT_EQ(f.alerts.shown[1].messageText, "无法结束该进程");
    // It says what happened, not that rights are missing.
    EXPECT_EQ(f.alerts.shown[1].informativeText,
              "所选的进程已经退出，它的进程号现在可能属于另一个进程。");

    // Gone altogether: the same.
    f.processes.startTimes.erase(300);
    f.alerts.shown.clear();
    f.panel.killProc(menu->actions()[3]);
    EXPECT_TRUE(f.processes.signalsSent.empty());
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    delete menu;
}

TEST(PanelCommands, UnknownStartTimeIsReadWhenTheMenuIsBuilt) {
    FakePanel f;
    f.processes.startTimes[40] = 777;
    QMenu* menu = f.panel.menuForProc(proc(40, "ps-only", 0, 0, true, 0));
    EXPECT_EQ(f.processes.startTimeReads, 1);
    EXPECT_EQ(TLProcTargetFrom(menu->actions()[3]->data()).startTime, 777u);
    f.panel.killProc(menu->actions()[3]);
    EXPECT_EQ(f.processes.signalsSent, (std::vector<std::pair<int32_t, int>>{{40, SIGTERM}}));

    f.processes.signalsSent.clear();
    f.processes.startTimes[40] = 778;
    f.panel.killProc(menu->actions()[3]);
    EXPECT_TRUE(f.processes.signalsSent.empty());
    delete menu;

    // Not readable when the menu was built: the process cannot be told apart, so it is not
    // signalled even if the pid is in use later.
    f.processes.startTimes.erase(41);
    QMenu* unknown = f.panel.menuForProc(proc(41, "vanishing", 0, 0, true, 0));
    f.processes.startTimes[41] = 5;
    f.alerts.shown.clear();
    f.panel.killProc(unknown->actions()[4]);
    EXPECT_TRUE(f.processes.signalsSent.empty());
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    EXPECT_EQ(f.alerts.shown[1].messageText, "无法结束该进程");
    delete unknown;
}

TEST(PanelCommands, MenuItemsRunAfterTheMenuClosesAndSurviveAReRender) {
    FakePanel f;
    f.panel.view();
    f.processes.startTimes[9] = 1;
    const std::vector<TLProc> procs = {proc(9, "app", MiB, 0, false, 1)};
    // Refreshes make no menus (one a row would cost every refresh whose ranking moves); a menu
    // is made when first asked for.
    const std::vector<TLProc> others = {proc(11, "b", MiB, 0, false, 1),
                                        proc(12, "c", MiB / 2, 0, false, 1)};
    f.panel.renderProcesses(&others);
    f.panel.renderProcesses(&procs);
    EXPECT_TRUE(f.panel.rows()[0]->findChildren<QMenu*>().isEmpty());
    EXPECT_TRUE(f.panel.rows()[0]->hasMenu());
    QPointer<QMenu> menu = f.panel.rows()[0]->menu();
    ASSERT_FALSE(menu.isNull());
    EXPECT_EQ(menu->actions()[0]->text(), "app  (PID 9)");

    // A refresh that shows the same process keeps the row's menu.
    f.panel.renderProcesses(&procs);
    EXPECT_EQ(f.panel.rows()[0]->menu(), menu.data());
    // The same pid and name with another start time is another process: a new menu.
    const std::vector<TLProc> reused = {proc(9, "app", MiB, 0, false, 2)};
    f.panel.renderProcesses(&reused);
    EXPECT_NE(f.panel.rows()[0]->menu(), menu.data());
    f.panel.renderProcesses(&procs);
    menu = f.panel.rows()[0]->menu();

    // A refresh arrives while the confirmation is open: another process took the row, and its
    // menu replaces this one.
    const std::vector<TLProc> next = {proc(10, "other", 2 * MiB, 0, false, 1)};
    f.processes.startTimes[10] = 1;
    f.alerts.whileShown = [&] { f.panel.renderProcesses(&next); };
    menu->actions()[3]->trigger();
    EXPECT_TRUE(f.alerts.shown.empty()); // not yet: from the event loop
    QApplication::processEvents();
    EXPECT_TRUE(menu.isNull());
    EXPECT_EQ(f.processes.signalsSent, (std::vector<std::pair<int32_t, int>>{{9, SIGTERM}}));

    f.alerts.whileShown = nullptr;
    f.panel.rows()[0]->menu()->actions()[2]->trigger();
    QApplication::processEvents();
    EXPECT_EQ(f.clipboard.texts, (std::vector<QString>{"other"}));
}
