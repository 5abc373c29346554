#include "panel/TLPanelController.h"

#include "format/TLColor.h"
#include "format/TLFormat.h"
#include "panel/TLPanelControls.h"
#include "platform/TLPlatformTexts.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLFonts.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"
#include "widgets/TLTextLabel.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Main column: insets and the space after each of the fourteen items (the last has none).
constexpr int kInsetSide = 14;
constexpr int kInsetTop = 12;
constexpr int kInsetBottom = 11;
constexpr int kRowSpacing = 6;     // between the views of a horizontal row
constexpr int kGridRowSpacing = 3; // 3.5 in the design; layouts place whole points
constexpr int kGridColumnSpacing = 8;
constexpr int kProcRowSpacing = 1;

constexpr int kSignalTerminate = 15;
constexpr int kSignalKill = 9;

QLabel* makeLabel(const QString& text, const QFont& font, const TLColor& color,
                  Qt::Alignment alignment = Qt::AlignLeft) {
    auto* label = new TLTextLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setWordWrap(false);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    TLSetTextColor(label, color);
    return label;
}

// A horizontal row of views, centred vertically, 6 apart; a null entry is the spacer that takes
// all spare width and pushes the views after it to the right edge.
QWidget* makeRow(const QList<QWidget*>& views) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kRowSpacing);
    for (QWidget* view : views) {
        if (!view) {
            auto* spacer = new QWidget;
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
            layout->addWidget(spacer, 1);
        } else {
            layout->addWidget(view, 0, Qt::AlignVCenter);
        }
    }
    return row;
}

// A two-column grid: captions at the leading edge, values at the trailing edge of the column.
QWidget* makeGrid(const QList<std::pair<QWidget*, QWidget*>>& lines) {
    auto* grid = new QWidget;
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setVerticalSpacing(kGridRowSpacing);
    layout->setHorizontalSpacing(kGridColumnSpacing);
    layout->setColumnStretch(0, 1);
    for (int i = 0; i < lines.size(); ++i) {
        layout->addWidget(lines[i].first, i, 0, Qt::AlignLeft | Qt::AlignVCenter);
        layout->addWidget(lines[i].second, i, 1, Qt::AlignRight | Qt::AlignVCenter);
    }
    return grid;
}

// A figure changes on every refresh and mostly keeps its size: its label is held at the size of
// its text, so that a new text of the same size repaints the label alone instead of laying its
// row or grid out again. A text of another size resizes it, and the layout follows.
void setFigure(QLabel* label, const QString& text) {
    if (label->text() == text) return;
    label->setText(text);
    const QSize fitted = label->sizeHint();
    if (label->minimumSize() != fitted || label->maximumSize() != fitted)
        label->setFixedSize(fitted);
}

// Menu texts are read for mnemonics ("&") and shortcuts (after a tab); a process name is neither.
QString menuText(QString text) {
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

} // namespace

TLPanelServices TLPanelServices::system() {
    return {&TLSystemAlerts(), &TLSystemClipboard(), &TLSystemProcessControl(),
            &TLSystemAppLauncher()};
}

QString TLPanelTitle(const TLAppInfo& info) {
    return TLDisplayName(info);
}

QString TLPanelVersionText(const TLAppInfo& info) {
    if (info.author.isEmpty()) return QStringLiteral("v") + info.version;
    return info.author + QStringLiteral(" · v") + info.version;
}

QString TLPressureChipText(int32_t level) {
    if (level >= 4) return QStringLiteral("压力严重");
    if (level == 2) return QStringLiteral("压力警告");
    return QStringLiteral("压力正常");
}

TLProcTarget TLProcTargetFrom(const QVariant& data) {
    return data.canConvert<TLProcTarget>() ? data.value<TLProcTarget>() : TLProcTarget{};
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
    return _gear;
}

QAbstractButton* TLPanelController::activityMonitorButton() const {
    return _activityMonitor;
}

// --- The view tree ----------------------------------------------------------------------------

void TLPanelController::loadView() {
    const TLAppInfo info = TLCurrentAppInfo();
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("TLPanel"));
    root->setGeometry(0, 0, TLPanelWidth, 500);

    _column = new QVBoxLayout(root);
    _column->setContentsMargins(kInsetSide, kInsetTop, kInsetSide, kInsetBottom);
    _column->setSpacing(0);
    // The root is 322 wide (294 + the insets) and exactly as high as its content.
    _column->setSizeConstraint(QLayout::SetFixedSize);
    auto add = [this](QWidget* item, int spaceAfter) {
        item->setFixedWidth(TLPanelColumnWidth);
        _column->addWidget(item, 0, Qt::AlignLeft);
        if (spaceAfter > 0) _column->addSpacing(spaceAfter);
        _columnItems.append(item);
    };

    // 1. Header: title, spacer, pressure chip.
    _title = makeLabel(TLPanelTitle(info), TLSystemFont(13, QFont::DemiBold), TLLabelColor());
    _chip = new TLChip;
    add(makeRow({_title, nullptr, _chip}), 7);

    // 2. Used memory, spacer, total.
    _bigValue = makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(27, QFont::Medium),
                          TLLabelColor());
    _totalValue = makeLabel(QString(), TLSystemFont(11, QFont::Medium), TLSecondaryLabelColor(),
                            Qt::AlignRight);
    add(makeRow({_bigValue, nullptr, _totalValue}), 9);

    // 3. Composition bar.
    _bar = new TLStackedBarView(QRect(0, 0, TLPanelColumnWidth, 10));
    _bar->setFixedHeight(10);
    add(_bar, 10);

    // 4. Legend.
    const QList<std::pair<QString, TLColor>> categories = {
        {QStringLiteral("App 内存"), TLColorApp()},
        {QStringLiteral("联动内存"), TLColorWired()},
        {QStringLiteral("被压缩"), TLColorCompressed()},
        {QStringLiteral("已缓存文件"), TLColorCached()}};
    QList<std::pair<QWidget*, QWidget*>> legend;
    for (const auto& [name, color] : categories) {
        QLabel* value = makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(11.5),
                                  TLLabelColor(), Qt::AlignRight);
        _legendValues.append(value);
        legend.append({new TLLegendCaption(name, color), value});
    }
    add(makeGrid(legend), 10);

    // 5. Separator.
    add(new TLSeparatorLine, 9);

    // 6. Usage: caption, spacer, percentage.
    _usageNow = makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(11.5, QFont::Medium),
                          TLLabelColor());
    add(makeRow({makeLabel(QStringLiteral("内存使用率"), TLSystemFont(11, QFont::Medium),
                           TLSecondaryLabelColor()),
                 nullptr, _usageNow}),
        7);

    // 7. Usage history.
    _spark = new TLSparkView(QRect(0, 0, TLPanelColumnWidth, 40));
    _spark->setFixedHeight(40);
    add(_spark, 9);

    // 8. Pressure, swap and CPU.
    auto caption = [](const QString& text) {
        return makeLabel(text, TLSystemFont(11, QFont::Medium), TLSecondaryLabelColor());
    };
    auto figure = [] {
        return makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(11.5), TLLabelColor(),
                         Qt::AlignRight);
    };
    _pressureValue = figure();
    _swapValue = figure();
    _cpuValue = figure();
    add(makeGrid({{caption(QStringLiteral("内存压力")), _pressureValue},
                  {caption(QStringLiteral("交换空间")), _swapValue},
                  {caption(QStringLiteral("CPU 总占用")), _cpuValue}}),
        10);

    // 9. Separator.
    add(new TLSeparatorLine, 9);

    // 10. Tabs.
    _seg = new TLSegmentedControl({QStringLiteral("内存占用"), QStringLiteral("能耗")});
    _seg->setSelectedSegment(_tab == 0 ? 0 : 1);
    connect(_seg, &TLSegmentedControl::segmentClicked, this, [this] { segChanged(); });
    add(_seg, 6);

    // 11. Process rows, all hidden until applyRowCount.
    _rowsStack = new QWidget;
    auto* rowsLayout = new QVBoxLayout(_rowsStack);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(kProcRowSpacing);
    for (int i = 0; i < TLPanelRowCapacity; ++i) {
        auto* row = new TLProcRow(QRect(0, 0, TLPanelColumnWidth, TLPanelRowHeight));
        row->setFixedSize(TLPanelColumnWidth, TLPanelRowHeight);
        row->setHidden(true);
        rowsLayout->addWidget(row, 0, Qt::AlignLeft);
        _rows.append(row);
    }
    add(_rowsStack, 8);

    // 12. Note under the list; it keeps its line while empty.
    _footNote =
        makeLabel(TLThisPlatformTexts().footNoteMemory, TLSystemFont(9.5), TLTertiaryLabelColor());
    _footNote->setFixedHeight(_footNote->sizeHint().height());
    _footNote->clear();
    add(_footNote, 8);

    // 13. Separator.
    add(new TLSeparatorLine, 8);

    // 14. Footer: system monitor, spacer, version, gear.
    _activityMonitor = new TLBezelButton(QStringLiteral("打开活动监视器"));
    connect(_activityMonitor, &QAbstractButton::clicked, this, [this] { openActivityMonitor(); });
    _version = makeLabel(TLPanelVersionText(info), TLSystemFont(9.5), TLTertiaryLabelColor());
    _gear = new TLBezelButton(TLBezelButton::Image::Action);
    _gear->setFixedWidth(30);
    connect(_gear, &QAbstractButton::clicked, this, [this] { gearClicked(_gear); });
    add(makeRow({_activityMonitor, nullptr, _version, _gear}), 0);

    _view = root;
    // The window holding the view may delete it; the controller then forgets its parts.
    connect(root, &QObject::destroyed, this, [this] { forgetView(); });
    applyRowCount();
}

void TLPanelController::forgetView() {
    _view = nullptr;
    _column = nullptr;
    _columnItems.clear();
    _title = nullptr;
    _chip = nullptr;
    _bigValue = nullptr;
    _totalValue = nullptr;
    _bar = nullptr;
    _legendValues.clear();
    _usageNow = nullptr;
    _spark = nullptr;
    _pressureValue = nullptr;
    _swapValue = nullptr;
    _cpuValue = nullptr;
    _seg = nullptr;
    _rowsStack = nullptr;
    _rows.clear();
    _footNote = nullptr;
    _activityMonitor = nullptr;
    _version = nullptr;
    _gear = nullptr;
}

void TLPanelController::updateViewSize() {
    if (!_view) return;
    // Rows were shown or hidden, or texts changed: recompute the sizes right away, so that the
    // view's size is the panel's size without waiting for the event loop.
    _rowsStack->layout()->invalidate();
    _rowsStack->updateGeometry();
    _column->invalidate();
    _column->activate();
    // The rows of the column (header, figures, footer) place their views too, so that the tree
    // is laid out even before it is first shown (snapshots, tests).
    for (QWidget* item : std::as_const(_columnItems)) {
        if (QLayout* layout = item->layout()) {
            layout->invalidate();
            layout->activate();
        }
    }
}

// --- System figures ---------------------------------------------------------------------------

void TLPanelController::renderSystem(const TLSystemStats& s, const std::vector<double>& history) {
    if (!isViewLoaded()) return;
    const TLColor pressure = TLPressureColor(s.pressureLevel);
    _chip->setText(TLPressureChipText(s.pressureLevel), pressure);

    setFigure(_bigValue, TLFormatBytes(s.used));
    setFigure(_totalValue, QStringLiteral("共 ") + TLFormatBytes(s.total));

    _bar->setColors({TLColorApp(), TLColorWired(), TLColorCompressed(), TLColorCached()});
    const double d = s.total != 0 ? static_cast<double>(s.total) : 1.0;
    const uint64_t parts[] = {s.app, s.wired, s.compressed, s.cached};
    QList<double> fractions;
    for (uint64_t part : parts)
        fractions.append(static_cast<double>(part) / d);
    _bar->setFractions(fractions);
    for (qsizetype i = 0; i < 4 && i < _legendValues.size(); ++i)
        setFigure(_legendValues[i], TLFormatBytes(parts[i]));

    setFigure(_usageNow, TLFormatPercent(s.usagePercent));
    _spark->setTint(pressure);
    _spark->setValues(QList<double>(history.begin(), history.end()));
    setFigure(_pressureValue, TLFormatPercent(s.pressurePercent));
    TLSetTextColor(_pressureValue, pressure);
    setFigure(_swapValue, s.swapTotal != 0 ? TLFormatBytes(s.swapUsed) + QStringLiteral(" / ") +
                                                 TLFormatBytes(s.swapTotal)
                                           : QStringLiteral("未启用"));
    setFigure(_cpuValue, TLFormatPercent(s.cpuPercent, 1));
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
    for (qsizetype i = 0; i < _rows.size(); ++i)
        _rows[i]->setHidden(i >= _rowCount);
    updateViewSize();
}

void TLPanelController::setTab(int64_t tab) {
    _tab = tab;
    if (!isViewLoaded()) return;
    _seg->setSelectedSegment(_tab == 0 ? 0 : 1);
    renderProcesses(&_lastProcs);
}

void TLPanelController::segChanged() {
    if (!isViewLoaded()) return;
    const int selected = _seg->selectedSegment();
    if (selected < 0) return;
    _tab = selected;
    renderProcesses(&_lastProcs);
    if (_delegate) _delegate->panelDidSelectTab(_tab);
}

void TLPanelController::renderProcesses(const std::vector<TLProc>* procs) {
    if (!isViewLoaded()) return;
    if (procs != &_lastProcs) _lastProcs = procs ? *procs : std::vector<TLProc>();

    const bool memoryTab = _tab == 0;
    // Energy that is not a number sorts last instead of breaking the ordering.
    auto key = [memoryTab](const TLProc& p) {
        if (memoryTab) return static_cast<double>(p.memory);
        return std::isnan(p.energy) ? -std::numeric_limits<double>::infinity() : p.energy;
    };
    std::vector<const TLProc*> sorted;
    sorted.reserve(_lastProcs.size());
    for (const TLProc& p : _lastProcs)
        sorted.push_back(&p);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&key](const TLProc* a, const TLProc* b) { return key(*a) > key(*b); });

    double scale = 1.0;
    if (!sorted.empty()) {
        const double top = key(*sorted.front());
        if (memoryTab ? top != 0 : top > 0) scale = top;
    }
    const TLColor tint = memoryTab ? TLColorApp() : TLColorCompressed();

    bool rowsChanged = false;
    for (qsizetype i = 0; i < _rows.size(); ++i) {
        TLProcRow* row = _rows[i];
        const bool hidden = i >= _rowCount || static_cast<size_t>(i) >= sorted.size();
        rowsChanged |= row->isHidden() != hidden;
        row->setHidden(hidden);
        if (hidden) continue;
        const TLProc& p = *sorted[static_cast<size_t>(i)];
        row->setPid(p.pid);
        row->setTint(tint);
        const QString value = memoryTab ? TLFormatBytes(p.memory) : TLFormatFixed(p.energy, 1);
        row->setRank(i, QString::fromStdString(p.name), value, key(p) / scale, p.approximate);
        // The menu names the process and carries what identifies it; a process whose start
        // time is unknown is looked up afresh each time.
        if (_menuFor.size() < static_cast<size_t>(_rows.size())) _menuFor.resize(_rows.size());
        MenuFor& made = _menuFor[static_cast<size_t>(i)];
        if (!row->menu() || p.startTime == 0 || made.pid != p.pid ||
            made.startTime != p.startTime || made.name != p.name) {
            row->setMenu(menuForProc(p));
            made = {p.pid, p.startTime, p.name};
        }
    }
    _footNote->setText(memoryTab ? TLThisPlatformTexts().footNoteMemory
                                 : TLThisPlatformTexts().footNoteEnergy);
    // Only rows shown or hidden change the panel's size (see renderSystem).
    if (rowsChanged || !_view->isVisible()) updateViewSize();
}

// --- Process commands -------------------------------------------------------------------------

QMenu* TLPanelController::menuForProc(const TLProc& proc) {
    const QString name = QString::fromStdString(proc.name);
    auto* menu = new QMenu;
    menu->setFont(TLSystemFont(13));

    QAction* heading = menu->addAction(
        menuText(QStringLiteral("%1  (PID %2)").arg(name, QString::number(proc.pid))));
    heading->setEnabled(false);
    menu->addSeparator();

    // The commands run from the event loop, after the menu has closed: a command that shows an
    // alert lets the panel re-render meanwhile, which replaces (and deletes) this menu.
    QAction* copy = menu->addAction(QStringLiteral("复制进程名"));
    copy->setData(name);
    connect(
        copy, &QAction::triggered, this, [this, data = copy->data()] { copyText(data); },
        Qt::QueuedConnection);

    // The identity of the process this row shows, for the check before a signal is sent.
    uint64_t startTime = proc.startTime;
    if (startTime == 0 && _services.processes && proc.pid > 0) {
        uint64_t read = 0;
        if (_services.processes->startTime(proc.pid, read)) startTime = read;
    }
    const std::pair<QString, int> commands[] = {{QStringLiteral("结束进程…"), kSignalTerminate},
                                                {QStringLiteral("强制结束进程…"), kSignalKill}};
    for (const auto& [title, signal] : commands) {
        QAction* item = menu->addAction(title);
        item->setData(QVariant::fromValue(TLProcTarget{proc.pid, name, signal, startTime}));
        connect(
            item, &QAction::triggered, this, [this, data = item->data()] { runKill(data); },
            Qt::QueuedConnection);
    }
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
    const TLProcTarget target = TLProcTargetFrom(data);
    const bool force = target.signal == kSignalKill;

    TLAlert confirm;
    confirm.style = TLAlert::Style::Warning;
    confirm.messageText =
        QStringLiteral("确定要%1「%2」吗？")
            .arg(force ? QStringLiteral("强制结束") : QStringLiteral("结束"), target.name);
    confirm.informativeText = force
                                  ? QStringLiteral("强制结束会立即终止进程，未保存的内容将会丢失。")
                                  : QStringLiteral("进程会收到退出请求，通常可以正常保存并退出。");
    confirm.buttons = {force ? QStringLiteral("强制结束") : QStringLiteral("结束进程"),
                       QStringLiteral("取消")};
    if (_services.alerts->run(confirm) != TLAlertFirstButtonReturn) return;

    // Only the process the menu was built for is signalled: never a pid of 0 or below (a process
    // group, or every process), and never a process that took over the pid since then. Its
    // identity is read again now, after the confirmation, which may have been open for a while.
    using Result = TLProcessControl::Result;
    Result result = Result::Refused;
    if (target.pid > 0 && _services.processes)
        result = _services.processes->signalProcess(target.pid, target.startTime, target.signal);
    if (result == Result::Delivered) return;

    TLAlert failure;
    failure.messageText = QStringLiteral("无法结束该进程");
    failure.informativeText =
        result == Result::NotThatProcess
            ? QStringLiteral("所选的进程已经退出，它的进程号现在可能属于另一个进程。")
            : TLThisPlatformTexts().killFailedAdvice;
    _services.alerts->run(failure);
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

void TLPanelController::openActivityMonitor() {
    if (_delegate) _delegate->panelWantsClose();
    if (_services.launcher && !_services.launcher->openSystemMonitor() && _services.alerts)
        if (const std::optional<TLAlert> alert = TLNoSystemMonitorAlert())
            _services.alerts->run(*alert);
}
