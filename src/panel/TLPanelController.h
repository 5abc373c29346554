#pragma once
#include "panel/TLPanelDelegate.h"
#include "panel/TLPanelFigures.h"
#include "panel/TLPanelView.h"
#include "panel/TLProcMenu.h"
#include "platform/TLServices.h"
#include "sampling/TLAppGroups.h"
#include "sampling/TLGrowth.h"
#include "sampling/TLProc.h"
#include "sampling/TLSystemStats.h"
#include "widgets/TLProcList.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <optional>

#include <cstdint>
#include <string>
#include <vector>

class QAbstractButton;
class QAction;
class QLabel;
class QMenu;
class QWidget;
class TLChip;
class TLProcRow;
class TLSegmentedControl;
class TLSparkView;
class TLStackedBarView;

// The desktop services the panel uses: alerts and signals for the process commands, the
// clipboard for "复制进程名", the launcher for "打开活动监视器". Tests pass fakes.
struct TLPanelServices {
    TLAlertPresenter* alerts = nullptr;
    TLClipboard* clipboard = nullptr;
    TLProcessControl* processes = nullptr;
    TLAppLauncher* launcher = nullptr;
    // The real services of this desktop.
    static TLPanelServices system();
};

// The alert shown when "打开活动监视器" finds no system monitor to start (Linux desktops ship
// different ones, and some none): saying so beats a button that does nothing. None on a system
// where the monitor always exists.
std::optional<TLAlert> TLNoSystemMonitorAlert();
// Starts the system monitor ("打开活动监视器"); where none starts, shows that alert (with
// `alerts`, when given).
void TLOpenSystemMonitor(TLAppLauncher& launcher, TLAlertPresenter* alerts);

// The popover's content: memory figures, composition bar and legend, usage history, pressure,
// swap and CPU, the process list with its two tabs, and the footer. The view is built once, the
// first time it is asked for; the render calls do nothing before that.
//
// The root view is 322 wide and as high as its content; it paints no background of its own (the
// popover window paints the panel grey behind it) and draws in the appearance set on it or an
// ancestor with TLSetAppearance.
class TLPanelController : public QObject {
    Q_OBJECT
public:
    explicit TLPanelController(TLPanelServices services = TLPanelServices::system(),
                               QObject* parent = nullptr);
    ~TLPanelController() override;

    // Weak: the delegate must outlive the controller or be reset.
    void setDelegate(TLPanelDelegate* delegate) { _delegate = delegate; }
    TLPanelDelegate* delegate() const { return _delegate; }

    // The root view; built on the first call.
    QWidget* view();
    bool isViewLoaded() const { return _view != nullptr; }

    // --- System figures.
    // Puts a system sample and the usage history (fractions 0 … 1, oldest first) on the panel.
    void renderSystem(const TLSystemStats& stats, const std::vector<double>& history);
    // The time between two values of the history (the span a screen reader is told of).
    void setSecondsPerSample(double seconds);

    // --- Process list and tabs.
    // 0 memory, anything else energy. Selects the tab's segment and re-renders the last list once
    // the view exists; never tells the delegate.
    TLPanelTab tab() const { return _tab; }
    void setTab(TLPanelTab tab);
    // Rows shown, kept within 3 … 12. Re-renders the last list once the view exists.
    int64_t rowCount() const { return _rowCount; }
    void setRowCount(int64_t rowCount);
    // Shows the first rowCount rows and hides the others.
    void applyRowCount();
    // The tab control's action: takes its selection as the tab, re-renders, tells the delegate.
    void segChanged();
    // Sorts and shows a process sample (null counts as empty) and remembers it as lastProcs.
    void renderProcesses(const std::vector<TLProc>* procs);
    const std::vector<TLProc>& lastProcs() const { return _lastProcs; }
    // Lists applications instead of processes: each row an application with the sums of its
    // processes (off by default). Re-renders the last list once the view exists.
    bool groupsApps() const { return _groupApps; }
    void setGroupApps(bool group);
    // The growth histories whose growing processes the rows mark and whose footprints the rows'
    // menus show (none: no marks). Weak: it must outlive the controller or be reset.
    void setGrowth(const TLGrowthTracker* growth) { _growth = growth; }

    // --- Process commands.
    // A new context menu for a process: heading "NAME  (PID N)", a separator, "复制进程名",
    // "结束进程…", "强制结束进程…". The caller owns it. Its commands run from the event loop once
    // the menu has closed.
    QMenu* menuForProc(const TLProc& proc);
    // A new context menu for an application of more than one process (see TLMakeAppMenu), its
    // processes in the tab's order.
    QMenu* menuForApp(const TLAppGroup& group);
    // "复制进程名": the item's name as plain text on the clipboard.
    void copyName(QAction* item);
    // "结束进程…" / "强制结束进程…": confirmation, then the signal, for the item's process.
    void killProc(QAction* item);

    // --- Footer actions.
    // Tells the delegate the gear was clicked, passing the sender (the gear button).
    void gearClicked(QWidget* sender);
    // Asks the delegate to close the panel, then opens the desktop's system monitor.
    void openActivityMonitor();

    // --- The views (null before the view is loaded).
    QWidget* gearButton() const;
    QAbstractButton* activityMonitorButton() const;
    QLabel* titleLabel() const { return _ui.title; }
    QLabel* versionLabel() const { return _ui.version; }
    TLChip* chip() const { return _ui.chip; }
    QLabel* bigValue() const { return _ui.bigValue; }
    QLabel* totalValue() const { return _ui.totalValue; }
    TLStackedBarView* bar() const { return _ui.bar; }
    const QList<QLabel*>& legendValues() const { return _ui.legendValues; }
    QLabel* usageNow() const { return _ui.usageNow; }
    TLSparkView* spark() const { return _ui.spark; }
    QLabel* pressureValue() const { return _ui.pressureValue; }
    QLabel* swapValue() const { return _ui.swapValue; }
    QLabel* cpuValue() const { return _ui.cpuValue; }
    TLSegmentedControl* seg() const { return _ui.seg; }
    TLProcList* rowsStack() const { return _ui.rowsStack; }
    const QList<TLProcRow*>& rows() const { return _ui.rows; }
    QLabel* footNote() const { return _ui.footNote; }
    TLBezelButton* activityMonitor() const { return _ui.activityMonitor; }
    TLBezelButton* gear() const { return _ui.gear; }
    // The fourteen items of the main column, top to bottom.
    const QList<QWidget*>& columnItems() const { return _ui.columnItems; }

private:
    void loadView();
    void forgetView();
    void updateViewSize();
    void copyText(const QVariant& data);
    void runKill(const QVariant& data);
    // The list the rows show: the processes, or their applications.
    const std::vector<TLProc>& listed();
    // The start time a process row's commands check: the sample's, or read now.
    uint64_t startTimeOf(const TLProc& proc) const;
    // The history of a listed record: an application's while applications are listed.
    const TLGrowthTracker::Tracked* trackedOf(const TLProc& listed) const;

    TLPanelServices _services;
    TLPanelDelegate* _delegate = nullptr;
    TLPanelTab _tab = TLPanelTab::Memory;
    int64_t _rowCount = 8;
    std::vector<TLProc> _lastProcs;
    bool _groupApps = false;
    const TLGrowthTracker* _growth = nullptr;
    // The applications of the last list while they are listed, and their totals.
    std::vector<TLAppGroup> _groups;
    std::vector<TLProc> _groupTotals;

    QPointer<QWidget> _view;
    // The views of the tree under _view; all null while there is none.
    TLPanelView _ui;
    // The process each row's menu was made for: a row that shows the same process at the next
    // render keeps its menu.
    struct MenuFor {
        int32_t pid = 0;
        uint64_t startTime = 0;
        std::string name;
        double growthPoint = -1; // the time of the history's last point in the menu
    };
    std::vector<MenuFor> _menuFor;
};
