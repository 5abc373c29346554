#include "panel/TLPanelController.h"

#include "format/TLColor.h"
#include "format/TLFormat.h"
#include "panel/TLAccessible.h"
#include "panel/TLGrowthFigure.h"
#include "panel/TLKillConfirmation.h"
#include "panel/TLPanelControls.h"
#include "panel/TLProcRanking.h"
#include "platform/TLPlatformTexts.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

#include <algorithm>

TLPanelServices TLPanelServices::system() {
    return {&TLSystemAlerts(), &TLSystemClipboard(), &TLSystemProcessControl(),
            &TLSystemAppLauncher()};
}

TLPanelController::TLPanelController(TLPanelServices services, QObject* parent)
    : QObject(parent), _services(services) {}

TLPanelController::~TLPanelController() {
    // A view that was put into a window belongs to that window.
    if (_view && !_view->parentWidget()) {
        disconnect(_view, nullptr, this, nullptr);
        delete _view.data();
    }
}

QWidget* TLPanelController::view() {
    if (!_view) loadView();
    return _view;
}

QWidget* TLPanelController::gearButton() const {
    return _ui.gear;
}

QAbstractButton* TLPanelController::activityMonitorButton() const {
    return _ui.activityMonitor;
}

// --- The view tree ----------------------------------------------------------------------------

void TLPanelController::loadView() {
    QWidget* root = _ui.build(TLCurrentAppInfo(), _tab == TLPanelTab::Memory ? 0 : 1);
    connect(_ui.seg, &TLSegmentedControl::segmentClicked, this, [this] { segChanged(); });
    connect(_ui.activityMonitor, &QAbstractButton::clicked, this,
            [this] { openActivityMonitor(); });
    connect(_ui.gear, &QAbstractButton::clicked, this, [this] { gearClicked(_ui.gear); });

    _view = root;
    // The window holding the view may delete it; the controller then forgets its views.
    connect(root, &QObject::destroyed, this, [this] { forgetView(); });
    applyRowCount();
}

void TLPanelController::forgetView() {
    _view = nullptr;
    _ui = TLPanelView();
}

void TLPanelController::updateViewSize() {
    if (!_view) return;
    // Rows were shown or hidden, or texts changed: recompute the sizes right away, so that the
    // view's size is the panel's size without waiting for the event loop.
    _ui.layOut();
}

// --- System figures ---------------------------------------------------------------------------

void TLPanelController::renderSystem(const TLSystemStats& s, const std::vector<double>& history) {
    if (!isViewLoaded()) return;
    TLShowSystemFigures(_ui, s, history);
    TLTellAccessibleNameChanges(std::chrono::steady_clock::now());
    // New figures do not change the panel's size: on screen, the layout requests of labels that
    // changed size place them before the next paint. Off screen (snapshots, tests) nothing would.
    if (!_view->isVisible()) updateViewSize();
}

// --- Process list and tabs --------------------------------------------------------------------

void TLPanelController::setRowCount(int64_t rowCount) {
    _rowCount = std::clamp<int64_t>(rowCount, 3, TLPanelRowCapacity);
    if (!isViewLoaded()) return;
    applyRowCount();
    renderProcesses(&_lastProcs);
}

void TLPanelController::applyRowCount() {
    if (!isViewLoaded()) return;
    for (qsizetype i = 0; i < _ui.rows.size(); ++i)
        _ui.rows[i]->setHidden(i >= _rowCount);
    updateViewSize();
}

void TLPanelController::setTab(TLPanelTab tab) {
    _tab = tab;
    if (!isViewLoaded()) return;
    _ui.seg->setSelectedSegment(_tab == TLPanelTab::Memory ? 0 : 1);
    renderProcesses(&_lastProcs);
}

void TLPanelController::segChanged() {
    if (!isViewLoaded()) return;
    const int selected = _ui.seg->selectedSegment();
    if (selected < 0) return;
    _tab = selected == 0 ? TLPanelTab::Memory : TLPanelTab::Energy;
    renderProcesses(&_lastProcs);
    if (_delegate) _delegate->panelDidSelectTab(_tab);
}

void TLPanelController::setGroupApps(bool group) {
    if (group == _groupApps) return;
    _groupApps = group;
    if (!group) {
        _groups.clear();
        _groupTotals.clear();
    }
    renderProcesses(&_lastProcs);
}

const std::vector<TLProc>& TLPanelController::listed() {
    if (!_groupApps) return _lastProcs;
    _groups = TLGroupByApp(_lastProcs);
    _groupTotals = TLAppTotals(_groups);
    return _groupTotals;
}

void TLPanelController::renderProcesses(const std::vector<TLProc>* procs) {
    if (!isViewLoaded()) return;
    if (procs != &_lastProcs) _lastProcs = procs ? *procs : std::vector<TLProc>();

    const bool memoryTab = _tab == TLPanelTab::Memory;
    const std::vector<TLProc>& listedProcs = listed();
    const TLProcRanking ranking = TLRankProcs(listedProcs, memoryTab);
    const TLColor tint = memoryTab ? TLColorApp() : TLColorCompressed();

    bool rowsChanged = false;
    const QList<TLProcRow*>& rows = _ui.rows;
    if (_menuFor.size() < static_cast<size_t>(rows.size())) _menuFor.resize(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        TLProcRow* row = rows[i];
        const bool hidden = i >= _rowCount || static_cast<size_t>(i) >= ranking.order.size();
        rowsChanged |= row->isHidden() != hidden;
        row->setHidden(hidden);
        if (hidden) continue;
        const TLProc& p = *ranking.order[static_cast<size_t>(i)];
        const TLAppGroup* group =
            _groupApps ? &_groups[static_cast<size_t>(&p - listedProcs.data())] : nullptr;
        const size_t members = group ? group->members.size() : 1;
        row->setPid(p.pid);
        row->setTint(tint);
        row->setMemberCount(static_cast<int>(members));
        const TLGrowthTracker::Tracked* tracked = trackedOf(p);
        row->setGrowthNote(tracked ? TLGrowthNote(*tracked) : QString());
        const QString value = memoryTab ? TLFormatBytes(p.memory) : TLFormatFixed(p.energy, 1);
        row->setRank(i, QString::fromStdString(p.name), value,
                     TLProcRankKey(p, memoryTab) / ranking.scale, p.approximate);
        // The menu names the process and carries what identifies it; it is made when first
        // opened. A process whose start time is unknown is looked up afresh each time, and so is
        // an application, whose processes come and go.
        MenuFor& made = _menuFor[static_cast<size_t>(i)];
        if (members > 1) {
            row->setMenuSource([this, g = *group] { return menuForApp(g); });
            made = {};
        } else if (!row->hasMenu() || p.startTime == 0 || made.pid != p.pid ||
                   made.startTime != p.startTime || made.name != p.name ||
                   (tracked && made.growthPoint != _growth->lastPoint())) {
            // A menu with the process's history is made again once the history has a new point.
            row->setMenuSource([this, p] { return menuForProc(p); });
            made = {p.pid, p.startTime, p.name, tracked ? _growth->lastPoint() : -1};
        }
    }
    _ui.footNote->setText(memoryTab ? TLThisPlatformTexts().footNoteMemory
                                    : TLThisPlatformTexts().footNoteEnergy);
    TLTellAccessibleNameChanges(std::chrono::steady_clock::now());
    // Only rows shown or hidden change the panel's size (see renderSystem).
    if (rowsChanged || !_view->isVisible()) updateViewSize();
}

// --- Process commands -------------------------------------------------------------------------

void TLPanelController::setSecondsPerSample(double seconds) {
    _ui.spark->setSecondsPerValue(seconds);
}

QMenu* TLPanelController::menuForProc(const TLProc& proc) {
    // The identity of the process this row shows, for the check before a signal is sent.
    QMenu* menu = TLMakeProcMenu(
        proc, startTimeOf(proc), this, [this](const QVariant& data) { copyText(data); },
        [this](const QVariant& data) { runKill(data); });
    if (const TLGrowthTracker::Tracked* tracked = trackedOf(proc))
        TLAddGrowthGraph(menu, *tracked);
    return menu;
}

const TLGrowthTracker::Tracked* TLPanelController::trackedOf(const TLProc& listed) const {
    if (!_growth) return nullptr;
    return _groupApps ? _growth->app(TLAppKeyOf(listed))
                      : _growth->process(listed.pid, listed.startTime);
}

uint64_t TLPanelController::startTimeOf(const TLProc& proc) const {
    uint64_t startTime = proc.startTime;
    if (startTime == 0 && _services.processes && proc.pid > 0) {
        uint64_t read = 0;
        if (_services.processes->startTime(proc.pid, read)) startTime = read;
    }
    return startTime;
}

QMenu* TLPanelController::menuForApp(const TLAppGroup& group) {
    const bool memoryTab = _tab == TLPanelTab::Memory;
    const TLProcRanking ranking = TLRankProcs(group.members, memoryTab);
    std::vector<TLProc> members;
    for (const TLProc* member : ranking.order) {
        members.push_back(*member);
        members.back().startTime = startTimeOf(*member);
    }
    QMenu* menu = TLMakeAppMenu(
        QString::fromStdString(group.total.name), members, this,
        [this](const QVariant& data) { copyText(data); },
        [this](const QVariant& data) { runKill(data); });
    if (const TLGrowthTracker::Tracked* tracked = trackedOf(group.total))
        TLAddGrowthGraph(menu, *tracked);
    return menu;
}

void TLPanelController::copyName(QAction* item) {
    copyText(item ? item->data() : QVariant());
}

void TLPanelController::copyText(const QVariant& data) {
    if (_services.clipboard) _services.clipboard->setText(data.toString());
}

void TLPanelController::killProc(QAction* item) {
    runKill(item ? item->data() : QVariant());
}

void TLPanelController::runKill(const QVariant& data) {
    if (!_services.alerts) return;
    if (data.canConvert<TLAppTarget>())
        TLConfirmAndSignalApp(*_services.alerts, _services.processes, TLAppTargetFrom(data));
    else
        TLConfirmAndSignal(*_services.alerts, _services.processes, TLProcTargetFrom(data));
}

// --- Footer actions ---------------------------------------------------------------------------

void TLPanelController::gearClicked(QWidget* sender) {
    if (_delegate) _delegate->panelDidClickGear(sender);
}

std::optional<TLAlert> TLNoSystemMonitorAlert() {
    const std::optional<QString>& text = TLThisPlatformTexts().noSystemMonitor;
    if (!text) return std::nullopt;
    TLAlert alert;
    alert.style = TLAlert::Style::Informational;
    alert.messageText = QStringLiteral("未找到系统监视器");
    alert.informativeText = *text;
    return alert;
}

void TLOpenSystemMonitor(TLAppLauncher& launcher, TLAlertPresenter* alerts) {
    if (launcher.openSystemMonitor() || !alerts) return;
    if (const std::optional<TLAlert> alert = TLNoSystemMonitorAlert()) alerts->run(*alert);
}

void TLPanelController::openActivityMonitor() {
    if (_delegate) _delegate->panelWantsClose();
    if (_services.launcher) TLOpenSystemMonitor(*_services.launcher, _services.alerts);
}
