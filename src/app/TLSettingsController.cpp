#include "app/TLSettingsController.h"

#include "app/TLAbout.h"
#include "app/TLAppEnvironment.h"
#include "app/TLLaunchAtLogin.h"
#include "app/TLPopoverFlow.h"
#include "app/TLPreferences.h"
#include "app/TLSamplingLoop.h"
#include "panel/TLPanelController.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QPointer>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

// The menu title of a model item: '&' would read as a shortcut marker.
QString menuText(const QString& title) {
    QString t = title;
    return t.replace(u'&', QStringLiteral("&&"));
}

} // namespace

TLAlert TLPreferenceTroubleAlert(TLPreferenceTrouble trouble, const QString& path) {
    TLAlert alert;
    alert.style = TLAlert::Style::Warning;
    const QString file = QDir::toNativeSeparators(path);
    switch (trouble) {
    case TLPreferenceTrouble::Unreadable:
        alert.messageText = QStringLiteral("无法读取设置");
        alert.informativeText = QStringLiteral("设置文件 %1 无法读取，现按默认设置运行。"
                                               "更改在本次运行中有效，但不会写入该文件。")
                                    .arg(file);
        break;
    case TLPreferenceTrouble::NoPlace:
        alert.messageText = QStringLiteral("无法保存设置");
        alert.informativeText =
            QStringLiteral("没有可以保存设置的位置（未设置 HOME）。"
                           "更改在本次运行中有效，但下次启动时会恢复为默认设置。");
        break;
    default:
        alert.messageText = QStringLiteral("无法保存设置");
        alert.informativeText =
            QStringLiteral(
                "设置无法写入 %1。更改在本次运行中有效，但下次启动时会恢复为原来的设置。")
                .arg(file);
        break;
    }
    return alert;
}

TLSettingsController::TLSettingsController(const TLAppEnvironment& env, TLSamplingLoop& loop,
                                           TLPopoverFlow& popover)
    : _env(env), _loop(loop), _popover(popover) {}

TLSettingsController::~TLSettingsController() {
    if (_statusMenu && _env.statusItem) _env.statusItem->setContextMenu(nullptr);
}

void TLSettingsController::installStatusMenu() {
    _statusMenu = std::make_unique<QMenu>();
    connect(_statusMenu.get(), &QMenu::aboutToShow, this, [this] { refreshStatusMenu(); });
    refreshStatusMenu();
    _env.statusItem->setContextMenu(_statusMenu.get());
}

TLSettingsState TLSettingsController::settingsState() const {
    const TLPreferences& prefs = *_env.preferences;
    TLSettingsState state;
    state.barMode = TLStatusBarMode{prefs.integerForKey(TLBarMode)};
    state.metric = TLPercentMetric{prefs.integerForKey(TLMetric)};
    state.showCPU = prefs.boolForKey(TLShowCPU);
    state.mono = prefs.boolForKey(TLMono);
    state.interval = prefs.doubleForKey(TLInterval);
    state.rows = prefs.integerForKey(TLRows);
    state.groupApps = prefs.boolForKey(TLGroupApps);
    state.launchAtLogin = launchAtLoginEnabled();
    state.notifyCriticalPressure = prefs.boolForKey(TLNotifyCriticalPressure);
    state.displayName = _env.info.displayName;
    return state;
}

QMenu* TLSettingsController::settingsMenu() {
    auto* menu = new QMenu;
    fillSettingsMenu(menu, settingsState());
    return menu;
}

void TLSettingsController::fillSettingsMenu(QMenu* root, const TLSettingsState& state) {
    addSettingsItems(root, TLBuildSettingsMenu(state));
}

void TLSettingsController::addSettingsItems(QMenu* menu, const std::vector<TLSettingsItem>& items) {
    for (const TLSettingsItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        if (!item.submenu.empty()) {
            addSettingsItems(menu->addMenu(menuText(item.title)), item.submenu);
            continue;
        }
        QAction* action = menu->addAction(menuText(item.title));
        const bool checkable = item.action != TLSettingsAction::OpenActivityMonitor &&
                               item.action != TLSettingsAction::ShowAbout &&
                               item.action != TLSettingsAction::Quit;
        action->setCheckable(checkable);
        action->setChecked(item.checked);
        // The choices of one setting: a host that draws the exported menu itself shows them as
        // radio items.
        const bool singleChoice = item.action == TLSettingsAction::SetBarMode ||
                                  item.action == TLSettingsAction::SetMetric ||
                                  item.action == TLSettingsAction::SetInterval ||
                                  item.action == TLSettingsAction::SetRows;
        if (singleChoice) action->setProperty(TLSingleChoiceProperty, true);
        if (std::function<void()> handler = handlerFor(item)) {
            // Queued: the menu closes before the action runs (About opens an alert).
            connect(action, &QAction::triggered, this, handler, Qt::QueuedConnection);
        }
    }
}

std::function<void()> TLSettingsController::handlerFor(const TLSettingsItem& item) {
    const int64_t tag = item.tag;
    const double value = item.value;
    QPointer<TLSettingsController> self(this);
    // After the action, the item's exported menu shows the new check marks.
    auto run = [self](auto f) -> std::function<void()> {
        return [self, f] {
            if (!self) return;
            f(*self);
            if (self) self->refreshStatusMenu();
        };
    };
    using C = TLSettingsController;
    switch (item.action) {
    case TLSettingsAction::SetBarMode:
        return run([tag](C& d) { d.setBarMode(TLStatusBarMode{tag}); });
    case TLSettingsAction::SetMetric:
        return run([tag](C& d) { d.setMetric(TLPercentMetric{tag}); });
    case TLSettingsAction::ToggleShowCPU:
        return run([](C& d) { d.toggleShowCPU(); });
    case TLSettingsAction::ToggleMono:
        return run([](C& d) { d.toggleMono(); });
    case TLSettingsAction::SetInterval:
        return run([value](C& d) { d.setInterval(value); });
    case TLSettingsAction::SetRows:
        return run([tag](C& d) { d.setRows(tag); });
    case TLSettingsAction::ToggleLaunchAtLogin:
        return run([](C& d) { d.toggleLaunchAtLogin(); });
    case TLSettingsAction::ToggleGroupApps:
        return run([](C& d) { d.toggleGroupApps(); });
    case TLSettingsAction::ToggleNotifyCriticalPressure:
        return run([](C& d) { d.toggleNotifyCriticalPressure(); });
    case TLSettingsAction::OpenActivityMonitor:
        return run([](C& d) { d.openAM(); });
    case TLSettingsAction::ShowAbout:
        return run([](C& d) { d.showAbout(); });
    case TLSettingsAction::Quit:
        return run([](C& d) { d.quit(); });
    case TLSettingsAction::None:
        break;
    }
    return {};
}

void TLSettingsController::refreshStatusMenu() {
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

void TLSettingsController::popUpFromStatusItem() {
    std::unique_ptr<QMenu> menu(settingsMenu());
    _env.statusItem->popUpMenu(menu.get());
}

void TLSettingsController::popUpUnderGear(QWidget* gear) {
    QMenu* menu = settingsMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    _env.menus->popUp(menu, QPoint(0, (gear ? gear->height() : 0) + 4), gear);
}

void TLSettingsController::setBarMode(TLStatusBarMode mode) {
    _env.preferences->setInteger(static_cast<int64_t>(mode), TLBarMode);
    warnIfUnsaved();
    _loop.tick();
}

void TLSettingsController::setMetric(TLPercentMetric metric) {
    _env.preferences->setInteger(static_cast<int64_t>(metric), TLMetric);
    warnIfUnsaved();
    _loop.tick();
}

void TLSettingsController::toggleShowCPU() {
    _env.preferences->setBool(!_env.preferences->boolForKey(TLShowCPU), TLShowCPU);
    warnIfUnsaved();
    _loop.tick();
}

void TLSettingsController::toggleMono() {
    _env.preferences->setBool(!_env.preferences->boolForKey(TLMono), TLMono);
    warnIfUnsaved();
    _loop.tick();
}

void TLSettingsController::setInterval(double seconds) {
    _env.preferences->setDouble(seconds, TLInterval);
    warnIfUnsaved();
    _loop.restartTimer();
}

void TLSettingsController::setRows(int64_t tag) {
    _env.preferences->setInteger(tag, TLRows);
    warnIfUnsaved();
    _panel->setRowCount(tag);
}

void TLSettingsController::toggleGroupApps() {
    const bool group = !_env.preferences->boolForKey(TLGroupApps);
    _env.preferences->setBool(group, TLGroupApps);
    warnIfUnsaved();
    _panel->setGroupApps(group);
}

void TLSettingsController::setTab(TLPanelTab tab) {
    _env.preferences->setInteger(static_cast<int64_t>(tab), TLTab);
    warnIfUnsaved();
}

void TLSettingsController::warnIfUnsaved() {
    // Once per run: the values hold until quitting and each later change tries the file again.
    const TLPreferenceTrouble trouble = _env.preferences->trouble();
    if (trouble == TLPreferenceTrouble::None || _warnedUnsaved || !_env.alerts) return;
    _warnedUnsaved = true;
    _popover.closePopover();
    const TLAlert alert = TLPreferenceTroubleAlert(trouble, _env.preferences->path());
    // Also for the session's log: an alert started at login may be dismissed unread.
    std::fprintf(stderr, "tide: %s: %s\n", alert.messageText.toLocal8Bit().constData(),
                 alert.informativeText.toLocal8Bit().constData());
    _env.alerts->run(alert);
}

void TLSettingsController::quit() {
    if (_env.terminate) _env.terminate();
}

// ---------------------------------------------------------------- login, About, system monitor

bool TLSettingsController::launchAtLoginEnabled() const {
    return TLLaunchAtLoginEnabled(_env.agentPath);
}

void TLSettingsController::toggleLaunchAtLogin() {
    TLToggleLaunchAtLogin(_env.agentPath, _env.executablePath, TLDisplayName(_env.info));
}

void TLSettingsController::toggleNotifyCriticalPressure() {
    _env.preferences->setBool(!_env.preferences->boolForKey(TLNotifyCriticalPressure),
                              TLNotifyCriticalPressure);
    warnIfUnsaved();
    emit notifyCriticalPressureChanged();
}

void TLSettingsController::showAbout() {
    _popover.closePopover();
    const TLAboutTexts texts = TLComposeAbout(_env.info, TLAboutDescription());
    TLAlert alert;
    alert.style = TLAlert::Style::Informational;
    alert.messageText = texts.message;
    alert.informativeText = texts.informative;
    _env.alerts->run(alert);
}

void TLSettingsController::openAM() {
    TLOpenSystemMonitor(*_env.launcher, _env.alerts);
}
