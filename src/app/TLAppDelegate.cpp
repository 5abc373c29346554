#include "app/TLAppDelegate.h"

#include "app/TLAbout.h"
#include "app/TLLaunchAtLogin.h"
#include "app/TLPreferences.h"
#include "app/TLSettingsMenuModel.h"
#include "app/TLStatusPresentation.h"
#include "app/TLTrayIcon.h"
#include "format/TLFormat.h"
#include "format/TLStatusBarImage.h"
#include "widgets/TLAppearance.h"

#include <QActionGroup>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

// A tray click that comes this soon after an outside click closed the popover is the same
// gesture: the click on the tray icon that the tray host received first.
constexpr double kSameGestureSeconds = 0.35;
// How long an outside press waits for the tray to report a click on its icon, where the tray
// does not tell the icon's position.
constexpr double kTrayClickWait = 0.25;
// How long the program waits for a tray host, at start or after the host went away, before it
// shows the panel as a window: a desktop starts its panel within a second or two of logging in.
constexpr double kNoTrayWait = 4.0;

// The menu title of a model item: '&' would read as a shortcut marker.
QString menuText(const QString& title) {
    QString t = title;
    return t.replace(u'&', QStringLiteral("&&"));
}

} // namespace

TLAppDelegate::TLAppDelegate(TLAppEnvironment env, QObject* parent)
    : QObject(parent), _env(std::move(env)) {
    _history.reserve(kHistoryLength);
    _timer.setTimerType(Qt::CoarseTimer);
    connect(&_timer, &QTimer::timeout, this, [this] { tick(); });
    if (_env.statusItem) {
        connect(_env.statusItem, &TLStatusItem::clicked, this,
                [this](TLStatusItem::Button button, bool control) {
                    statusClicked(Click{button, control});
                });
    }
    if (_env.popover)
        connect(_env.popover, &TLPopover::closeRequested, this, [this] { closePopover(); });
}

TLAppDelegate::~TLAppDelegate() {
    applicationWillTerminate();
    if (_statusMenu && _env.statusItem) _env.statusItem->setContextMenu(nullptr);
}

QString TLAppDelegate::displayName() const {
    return TLDisplayName(_env.info);
}

// ---------------------------------------------------------------- start-up and the loop

void TLAppDelegate::applicationDidFinishLaunching() {
    _env.preferences->registerStandardDefaults();
    _history.clear();

    _panel = std::make_unique<TLPanelController>(_env.panelServices);
    _panel->setDelegate(this);
    _panel->setRowCount(_env.preferences->integerForKey(TLRows));
    _panel->setTab(_env.preferences->integerForKey(TLTab));
    // Built now rather than at the first opening, so that the first opening already shows
    // figures; drawn in the system's appearance.
    TLSetAppearance(_panel->view(),
                    _env.systemAppearance ? _env.systemAppearance() : TLAppearance::Light);

    // The settings menu as the item's own menu, for the trays that show it by themselves.
    _statusMenu = std::make_unique<QMenu>();
    connect(_statusMenu.get(), &QMenu::aboutToShow, this, [this] { refreshStatusMenu(); });
    refreshStatusMenu();
    _env.statusItem->setContextMenu(_statusMenu.get());

    restartTimer();
    tick();

    if (!_env.snapshotDir) {
        connect(_env.statusItem, &TLStatusItem::trayAvailabilityChanged, this,
                [this](bool available) { trayAvailabilityChanged(available); });
        connect(_env.popover, &TLPopover::windowClosedByUser, this, [this] { quit(); });
        if (!_env.statusItem->trayAvailable()) waitForTray();
    }

    if (_env.snapshotDir) {
        runSnapshotMode();
    } else if (_env.autoOpen) {
        QPointer<TLAppDelegate> self(this);
        _env.scheduler->after(1.2, [self] {
            if (self) self->statusClicked();
        });
    }
}

void TLAppDelegate::applicationWillTerminate() {
    if (_monitorToken != 0 && _env.monitor) _env.monitor->remove(_monitorToken);
    _monitorToken = 0;
}

void TLAppDelegate::restartTimer() {
    _timer.stop();
    double seconds = _env.preferences->doubleForKey(TLInterval);
    // Below half a second (and anything that is not a number) the timer runs every 2 seconds.
    if (!(seconds >= 0.5)) seconds = 2.0;
    // A value too large for the timer runs at the longest interval it can keep.
    const double ms = std::min(seconds * 1000.0, static_cast<double>(INT_MAX));
    _timer.setInterval(static_cast<int>(std::lround(ms)));
    _timer.start();
}

void TLAppDelegate::tick() {
    const TLSystemStats sample = _env.sampleSystem();
    if (_history.size() >= kHistoryLength)
        _history.erase(_history.begin(),
                       _history.begin() +
                           static_cast<std::ptrdiff_t>(_history.size() - kHistoryLength + 1));
    _history.push_back(std::min(1.0, sample.usagePercent / 100.0));
    updateStatusItem(sample);
    if (_env.popover->isShown()) {
        _panel->renderSystem(sample, _history);
        refreshProcs();
    }
}

void TLAppDelegate::refreshProcs() {
    if (_sampling) return;
    _sampling = true;
    auto result = std::make_shared<std::vector<TLProc>>();
    QPointer<TLAppDelegate> self(this);
    auto sample = _env.sampleProcesses;
    _env.procQueue->async([result, sample] { *result = sample(); },
                          [self, result] {
                              if (!self) return;
                              self->_sampling = false;
                              if (self->_env.popover->isShown())
                                  self->_panel->renderProcesses(result.get());
                          });
}

void TLAppDelegate::updateStatusItem(const TLSystemStats& sample) {
    if (!_display) {
        const TLPreferences& prefs = *_env.preferences;
        _display = DisplayChoices{prefs.integerForKey(TLBarMode), prefs.integerForKey(TLMetric),
                                  prefs.boolForKey(TLMono), prefs.boolForKey(TLShowCPU)};
    }
    const DisplayChoices& d = *_display;
    const std::optional<TLAppearance> tray =
        _env.trayAppearance ? _env.trayAppearance() : std::optional<TLAppearance>();
    // The gauge in whole percent, the steps of the figure beside it: half a pixel at the largest
    // icon size. The restless last digits of a machine's memory then redraw nothing.
    const long fill = std::lround(std::clamp(sample.usagePercent, 0.0, 100.0));

    // Most ticks change nothing the item shows: find that out before building any text.
    ShownKey key;
    {
        char* out = key.text;
        const size_t size = sizeof key.text;
        size_t& n = key.length;
        auto put = [&](std::string_view s) {
            const size_t k = std::min(s.size(), size - 1 - n);
            std::memcpy(out + n, s.data(), k);
            n += k;
        };
        auto putBytes = [&](uint64_t bytes, bool shortForm) {
            n += shortForm ? TLFormatBytesShortTo(out + n, size - n, bytes)
                           : TLFormatBytesTo(out + n, size - n, bytes);
            put("|");
        };
        auto putFixed = [&](double v) {
            n += TLFormatFixedTo(out + n, size - n, v, 0);
            put("|");
        };
        const char flags[] = {static_cast<char>('0' + std::clamp<int64_t>(d.barMode, -1, 9)),
                              static_cast<char>('0' + std::clamp<int64_t>(d.metric, -1, 9)),
                              d.mono ? 'm' : 'c',
                              d.showCPU ? 'C' : '-',
                              !tray                         ? 'n'
                              : *tray == TLAppearance::Dark ? 'd'
                                                            : 'l',
                              static_cast<char>('0' + std::clamp(TLPressureLevelValue(sample.pressureLevel), -1, 9)),
                              '|'};
        put({flags, sizeof flags});
        putFixed(static_cast<double>(fill));
        putFixed(d.metric == 1 ? sample.pressurePercent : sample.usagePercent);
        if (d.showCPU) putFixed(sample.cpuPercent);
        putFixed(sample.pressurePercent);
        if (d.barMode == 2) putBytes(sample.used, true);
        for (uint64_t bytes :
             {sample.used, sample.total, sample.app, sample.wired, sample.compressed})
            putBytes(bytes, false);
    }
    if (_hasShown && key == _shown) return;
    _shown = key;
    _hasShown = true;

    TLStatusPresentation p =
        TLComputeStatusPresentation(sample, d.barMode, d.metric, d.mono, d.showCPU);
    p.gaugeFraction = static_cast<double>(fill) / 100.0;
    // Drawn in one go with its key; sent only when its pixels differ from the icon shown.
    const auto send = [this](const TLTrayIcon& icon) {
        if (_hasIcon && icon.key == _iconKey) return;
        _env.statusItem->setIcon(icon.icon, icon.key);
        _iconKey = icon.key;
        _hasIcon = true;
    };
    if (_env.statusItem->hasRoomBesideImage()) {
        // The menu bar has room for the gauge and the text side by side.
        send(TLMakeMenuBarIcon(TLMenuBarContentFor(p), tray));
    } else {
        const TLTrayIconContent content = TLTrayIconContentFor(p);
        // Where only the tool tip changed, the picture stays.
        const bool samePicture = _hasIcon && tray == _lastTray && fill == _lastFill &&
                                 content.figure == _lastContent.figure &&
                                 content.cpu == _lastContent.cpu &&
                                 content.gauge == _lastContent.gauge &&
                                 content.gaugeTemplate == _lastContent.gaugeTemplate &&
                                 content.gaugeColor == _lastContent.gaugeColor;
        if (!samePicture) {
            _lastContent = content;
            _lastTray = tray;
            _lastFill = fill;
            send(TLMakeTrayIcon(content, tray));
        }
    }
    _env.statusItem->setTitle(p.title);
    _env.statusItem->setToolTip(p.toolTip);
}

void TLAppDelegate::outsideClickClose() {
    if (_env.now) _lastOutsideClose = _env.now();
    closePopover();
}

// ---------------------------------------------------------------- without a tray

void TLAppDelegate::waitForTray() {
    QPointer<TLAppDelegate> self(this);
    _env.scheduler->after(kNoTrayWait, [self] {
        if (self && !self->_env.statusItem->trayAvailable()) self->showWithoutTray();
    });
}

void TLAppDelegate::trayAvailabilityChanged(bool available) {
    if (!available) {
        waitForTray();
        return;
    }
    // The icon is back in a tray: the panel returns to it.
    if (_standalone) {
        _standalone = false;
        _env.popover->close();
    }
}

void TLAppDelegate::showWithoutTray() {
    if (_standalone) return;
    closePopover();
    _standalone = true;
    _panel->renderSystem(_env.sampleSystem(), _history);
    if (_env.systemAppearance) {
        const TLAppearance appearance = _env.systemAppearance();
        if (appearance != TLEffectiveAppearance(_panel->view()))
            TLSetAppearance(_panel->view(), appearance);
    }
    _env.popover->showAsWindow(_panel->view(), displayName());
    refreshProcs();
    QPointer<TLAppDelegate> self(this);
    _env.scheduler->after(0.9, [self] {
        if (self && self->_env.popover->isShown()) self->refreshProcs();
    });
}

// ---------------------------------------------------------------- popover

void TLAppDelegate::statusClicked(std::optional<Click> click) {
    // A click on the icon: a tray is there after all, and the panel belongs under it again.
    if (_standalone && click) {
        _standalone = false;
        _env.popover->close();
    }
    if (_standalone) return;
    if (click) ++_outsideGeneration; // a pending outside-click close was this very click
    if (click && (click->button == TLStatusItem::Button::Right || click->control)) {
        popUpSettingsFromStatusItem();
        return;
    }
    if (_env.popover->isShown()) {
        closePopover();
        return;
    }
    // The press on the tray icon that closed the popover as an outside click: it stays closed.
    if (click && _env.now && _env.now() - _lastOutsideClose < kSameGestureSeconds) return;

    const TLSystemStats sample = _env.sampleSystem();
    _panel->renderSystem(sample, _history);
    // The desktop may have switched between light and dark since the last opening.
    if (_env.systemAppearance) {
        const TLAppearance appearance = _env.systemAppearance();
        if (appearance != TLEffectiveAppearance(_panel->view()))
            TLSetAppearance(_panel->view(), appearance);
    }
    _env.statusItem->setToolTipSuppressed(true);
    _env.popover->show(_panel->view(), _env.statusItem->anchor());
    refreshProcs();
    QPointer<TLAppDelegate> self(this);
    _env.scheduler->after(0.9, [self] {
        if (self && self->_env.popover->isShown()) self->refreshProcs();
    });
    if (_monitorToken == 0) {
        _monitorToken = _env.monitor->install([self] {
            if (!self) return;
            const QRect icon = self->_env.statusItem->geometry();
            if ((icon.isValid() && !icon.isEmpty()) || self->_env.monitor->coversStatusItem()) {
                self->outsideClickClose();
                return;
            }
            // A tray that draws the icon itself gives no geometry, and a press on the icon looks
            // like any press elsewhere: wait for the click the tray reports for it. A click on the
            // item cancels this close (it toggles the panel, or opens the menu over it).
            const int generation = ++self->_outsideGeneration;
            self->_env.scheduler->after(kTrayClickWait, [self, generation] {
                if (self && generation == self->_outsideGeneration) self->outsideClickClose();
            });
        });
    }
}

void TLAppDelegate::closePopover() {
    // The panel shown as a window while there is no tray is not a popover: it stays.
    if (_env.popover->isShown() && !_standalone) {
        _env.popover->close();
        _env.statusItem->setToolTipSuppressed(false);
        // No process sample is taken until the panel opens again: what the sampling keeps open
        // goes, after any sample under way.
        if (_env.releaseProcesses) _env.procQueue->async(_env.releaseProcesses, {});
    }
    if (_monitorToken != 0) {
        _env.monitor->remove(_monitorToken);
        _monitorToken = 0;
    }
}

void TLAppDelegate::popUpSettingsFromStatusItem() {
    std::unique_ptr<QMenu> menu(settingsMenu());
    _env.statusItem->popUpMenu(menu.get());
}

void TLAppDelegate::panelDidSelectTab(int64_t tab) {
    _env.preferences->setInteger(tab, TLTab);
    warnIfUnsaved();
}

void TLAppDelegate::panelDidClickGear(QWidget* gear) {
    QMenu* menu = settingsMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    _env.menus->popUp(menu, QPoint(0, (gear ? gear->height() : 0) + 4), gear);
}

void TLAppDelegate::panelWantsClose() {
    closePopover();
}

// ---------------------------------------------------------------- settings menu

TLSettingsState TLAppDelegate::settingsState() const {
    const TLPreferences& prefs = *_env.preferences;
    TLSettingsState state;
    state.barMode = prefs.integerForKey(TLBarMode);
    state.metric = prefs.integerForKey(TLMetric);
    state.showCPU = prefs.boolForKey(TLShowCPU);
    state.mono = prefs.boolForKey(TLMono);
    state.interval = prefs.doubleForKey(TLInterval);
    state.rows = prefs.integerForKey(TLRows);
    state.launchAtLogin = launchAtLoginEnabled();
    state.displayName = _env.info.displayName;
    return state;
}

QMenu* TLAppDelegate::settingsMenu() {
    auto* menu = new QMenu;
    fillSettingsMenu(menu, settingsState());
    return menu;
}

void TLAppDelegate::fillSettingsMenu(QMenu* root, const TLSettingsState& state) {
    std::function<void(QMenu*, const std::vector<TLSettingsItem>&)> fill =
        [&](QMenu* menu, const std::vector<TLSettingsItem>& items) {
            for (const TLSettingsItem& item : items) {
                if (item.separator) {
                    menu->addSeparator();
                    continue;
                }
                if (!item.submenu.empty()) {
                    fill(menu->addMenu(menuText(item.title)), item.submenu);
                    continue;
                }
                QAction* action = menu->addAction(menuText(item.title));
                const bool checkable = item.action != TLSettingsAction::OpenActivityMonitor &&
                                       item.action != TLSettingsAction::ShowAbout &&
                                       item.action != TLSettingsAction::Quit;
                action->setCheckable(checkable);
                action->setChecked(item.checked);
                const int64_t tag = item.tag;
                const double value = item.value;
                QPointer<TLAppDelegate> self(this);
                // After the action, the item's exported menu shows the new check marks.
                auto run = [self](auto f) {
                    return [self, f] {
                        if (!self) return;
                        f(*self);
                        if (self) self->refreshStatusMenu();
                    };
                };
                std::function<void()> handler;
                switch (item.action) {
                case TLSettingsAction::SetBarMode:
                    handler = run([tag](TLAppDelegate& d) { d.setBarMode(tag); });
                    break;
                case TLSettingsAction::SetMetric:
                    handler = run([tag](TLAppDelegate& d) { d.setMetric(tag); });
                    break;
                case TLSettingsAction::ToggleShowCPU:
                    handler = run([](TLAppDelegate& d) { d.toggleShowCPU(); });
                    break;
                case TLSettingsAction::ToggleMono:
                    handler = run([](TLAppDelegate& d) { d.toggleMono(); });
                    break;
                case TLSettingsAction::SetInterval:
                    handler = run([value](TLAppDelegate& d) { d.setInterval(value); });
                    break;
                case TLSettingsAction::SetRows:
                    handler = run([tag](TLAppDelegate& d) { d.setRows(tag); });
                    break;
                case TLSettingsAction::ToggleLaunchAtLogin:
                    handler = run([](TLAppDelegate& d) { d.toggleLaunchAtLogin(); });
                    break;
                case TLSettingsAction::OpenActivityMonitor:
                    handler = run([](TLAppDelegate& d) { d.openAM(); });
                    break;
                case TLSettingsAction::ShowAbout:
                    handler = run([](TLAppDelegate& d) { d.showAbout(); });
                    break;
                case TLSettingsAction::Quit:
                    handler = run([](TLAppDelegate& d) { d.quit(); });
                    break;
                case TLSettingsAction::None:
                    break;
                }
                if (handler) {
                    // Queued: the menu closes before the action runs (About opens an alert).
                    connect(action, &QAction::triggered, this, handler, Qt::QueuedConnection);
                }
            }
        };
    fill(root, TLBuildSettingsMenu(state));
}

void TLAppDelegate::refreshStatusMenu() {
    if (!_statusMenu) return;
    // Rebuilt only when a check mark or title would change: a host that has already read the
    // menu keeps valid items to click.
    const TLSettingsState state = settingsState();
    if (_statusMenuState && *_statusMenuState == state) return;
    _statusMenuState = state;
    const QList<QMenu*> submenus = _statusMenu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
    _statusMenu->clear();
    qDeleteAll(submenus);
    fillSettingsMenu(_statusMenu.get(), state);
}

void TLAppDelegate::setBarMode(int64_t tag) {
    _env.preferences->setInteger(tag, TLBarMode);
    _display.reset();
    warnIfUnsaved();
    tick();
}

void TLAppDelegate::setMetric(int64_t tag) {
    _env.preferences->setInteger(tag, TLMetric);
    _display.reset();
    warnIfUnsaved();
    tick();
}

void TLAppDelegate::toggleShowCPU() {
    _env.preferences->setBool(!_env.preferences->boolForKey(TLShowCPU), TLShowCPU);
    _display.reset();
    warnIfUnsaved();
    tick();
}

void TLAppDelegate::toggleMono() {
    _env.preferences->setBool(!_env.preferences->boolForKey(TLMono), TLMono);
    _display.reset();
    warnIfUnsaved();
    tick();
}

void TLAppDelegate::setInterval(double seconds) {
    _env.preferences->setDouble(seconds, TLInterval);
    warnIfUnsaved();
    restartTimer();
}

void TLAppDelegate::setRows(int64_t tag) {
    _env.preferences->setInteger(tag, TLRows);
    warnIfUnsaved();
    _panel->setRowCount(tag);
}

void TLAppDelegate::warnIfUnsaved() {
    // Once per run: the value holds until quitting and each later change tries the file again.
    if (!_env.preferences->lastWriteFailed() || _warnedUnsaved || !_env.alerts) return;
    _warnedUnsaved = true;
    closePopover();
    TLAlert alert;
    alert.style = TLAlert::Style::Warning;
    alert.messageText = QStringLiteral("无法保存设置");
    alert.informativeText =
        QStringLiteral("设置无法写入 %1。更改在本次运行中有效，但下次启动时会恢复为原来的设置。")
            .arg(QDir::toNativeSeparators(_env.preferences->path()));
    _env.alerts->run(alert);
}

void TLAppDelegate::quit() {
    if (_env.terminate) _env.terminate();
}

// ---------------------------------------------------------------- login, About, system monitor

bool TLAppDelegate::launchAtLoginEnabled() const {
    return TLLaunchAtLoginEnabled(_env.agentPath);
}

void TLAppDelegate::toggleLaunchAtLogin() {
    TLToggleLaunchAtLogin(_env.agentPath, _env.executablePath, displayName());
}

void TLAppDelegate::showAbout() {
    closePopover();
    const TLAboutTexts texts = TLComposeAbout(_env.info, TLAboutDescription());
    TLAlert alert;
    alert.style = TLAlert::Style::Informational;
    alert.messageText = texts.message;
    alert.informativeText = texts.informative;
    _env.alerts->run(alert);
}

void TLAppDelegate::openAM() {
    if (_env.launcher->openSystemMonitor()) return;
    if (_env.alerts)
        if (const std::optional<TLAlert> alert = TLNoSystemMonitorAlert()) _env.alerts->run(*alert);
}

// ---------------------------------------------------------------- snapshot mode

QString TLSnapshotPath(const QString& dir, const QString& name) {
    return dir.isEmpty() ? name : QDir(dir).filePath(name);
}

void TLWriteSnapshot(QWidget* view, const QString& path, bool dark) {
    const QRect r = view->rect();
    QImage image(r.width(), r.height(), QImage::Format_ARGB32);
    image.setDevicePixelRatio(1.0);
    // Device white 0.17 or 0.96, opaque, under the whole picture.
    const int white = dark ? qRound(0.17 * 255) : qRound(0.96 * 255);
    image.fill(QColor(white, white, white));
    {
        QPainter p(&image);
        view->render(&p, QPoint(), QRegion(r), QWidget::DrawChildren);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    if (image.save(&file, "PNG")) file.commit();
}

void TLAppDelegate::runSnapshotMode() {
    const QString dir = _env.snapshotDir.value_or(QString());
    statusClicked();
    QPointer<TLAppDelegate> self(this);
    _env.scheduler->after(2.5, [self, dir] {
        if (self) self->snapshotStep(0, dir);
    });
}

void TLAppDelegate::next(int step, const QString& dir) {
    QPointer<TLAppDelegate> self(this);
    _env.scheduler->after(0.45, [self, step, dir] {
        if (self) self->snapshotStep(step + 1, dir);
    });
}

void TLAppDelegate::snapshotStep(int step, const QString& dir) {
    QWidget* view = _panel->view();
    switch (step) {
    case 0:
        TLSetAppearance(view, TLAppearance::Light);
        next(step, dir);
        return;
    case 1:
        TLWriteSnapshot(view, TLSnapshotPath(dir, QStringLiteral("panel-light.png")), false);
        next(step, dir);
        return;
    case 2:
        TLSetAppearance(view, TLAppearance::Dark);
        next(step, dir);
        return;
    case 3:
        TLWriteSnapshot(view, TLSnapshotPath(dir, QStringLiteral("panel-dark.png")), true);
        next(step, dir);
        return;
    case 4:
        _panel->setTab(1);
        TLSetAppearance(view, TLAppearance::Light);
        next(step, dir);
        return;
    case 5:
        TLWriteSnapshot(view, TLSnapshotPath(dir, QStringLiteral("panel-energy.png")), false);
        next(step, dir);
        return;
    default:
        break;
    }
    const double f = _env.sampleSystem().usagePercent / 100.0;
    const qreal scale = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    const struct {
        TLPressureLevel level;
        const char* name;
    } icons[] = {{TLPressureLevel::Normal, "icon-normal.png"},
                 {TLPressureLevel::Critical, "icon-critical.png"}};
    for (const auto& icon : icons) {
        const QImage image = TLStatusBarImage(TLPressureColor(icon.level), false, f)
                                 .toImage(scale, TLAppearance::Light, Qt::black);
        QSaveFile file(TLSnapshotPath(dir, QString::fromLatin1(icon.name)));
        if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG")) file.commit();
    }
    _env.exitNow(0);
}
