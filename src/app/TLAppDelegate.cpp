#include "app/TLAppDelegate.h"

#include "app/TLPreferences.h"
#include "widgets/TLAppearance.h"

#include <QPointer>

TLAppDelegate::TLAppDelegate(TLAppEnvironment env, QObject* parent)
    : QObject(parent), _env(std::move(env)), _statusItem(_env), _loop(_env, _statusItem),
      _popover(_env, _loop), _settings(_env, _loop, _popover), _snapshot(_env, _popover),
      _notifier(_env), _kills(_env) {
    connect(&_notifier, &TLPressureNotifier::sampleWanted, &_loop,
            &TLSamplingLoop::sampleOutOfTurn);
    connect(&_notifier, &TLPressureNotifier::panelWanted, this, &TLAppDelegate::showPanel);
    // A secondary click on the status item opens the settings menu over it.
    connect(&_popover, &TLPopoverFlow::settingsRequested, this,
            [this] { popUpSettingsFromStatusItem(); });
    connect(&_settings, &TLSettingsController::notifyCriticalPressureChanged, &_notifier,
            &TLPressureNotifier::applySetting);
    connect(&_settings, &TLSettingsController::notifyCriticalPressureChanged, &_kills,
            &TLKillNotifier::applySetting);
    if (_env.notifications)
        connect(_env.notifications, &TLNotificationCenter::actionInvoked, &_notifier,
                &TLPressureNotifier::actionInvoked);
}

TLAppDelegate::~TLAppDelegate() {
    applicationWillTerminate();
}

void TLAppDelegate::applicationDidFinishLaunching() {
    _env.preferences->registerStandardDefaults();
    // A choice made outside the program (the file edited) shows at the next tick.
    _env.preferences->watchOutsideChanges();
    _loop.clearHistory();

    _panel = std::make_unique<TLPanelController>(_env.panelServices);
    _loop.setPanel(_panel.get());
    _popover.setPanel(_panel.get());
    _settings.setPanel(_panel.get());
    _snapshot.setPanel(_panel.get());
    _panel->setDelegate(this);
    _panel->setRowCount(_env.preferences->integerForKey(TLRows));
    _panel->setGroupApps(_env.preferences->boolForKey(TLGroupApps));
    _panel->setTab(TLPanelTab{_env.preferences->integerForKey(TLTab)});
    // Built now rather than at the first opening, so that the first opening already shows
    // figures; drawn in the system's appearance.
    TLSetAppearance(_panel->view(),
                    _env.systemAppearance ? _env.systemAppearance() : TLAppearance::Light);

    _settings.installStatusMenu();

    // Critical memory pressure is announced by the monitor, not by a snapshot run.
    if (!_env.snapshotDir) {
        // Once, however often the launch runs.
        connect(&_loop, &TLSamplingLoop::sampled, &_notifier, &TLPressureNotifier::observe,
                Qt::UniqueConnection);
        _notifier.applySetting();
        // Which programs keep growing, watched from now on.
        _loop.watchGrowth();
        _notifier.setGrowth(&_loop.growth());
        _kills.setGrowth(&_loop.growth());
        _kills.applySetting();
    }

    restartTimer();
    tick();
    // The panel drawn once, unseen, at the next tick (a second or two after the start), so that
    // the first click finds its fonts and glyphs ready.
    if (!_env.snapshotDir)
        connect(
            &_loop, &TLSamplingLoop::sampled, this,
            [this](const TLSystemStats& sample) { _popover.prepareFirstOpening(sample); },
            Qt::SingleShotConnection);

    if (!_env.snapshotDir) {
        connect(_env.popover, &TLPopover::windowClosedByUser, this, [this] { quit(); });
        _popover.watchTray();
    }

    // Settings that were not read are told a moment after the start, once the icon is up.
    if (!_env.snapshotDir && _env.preferences->trouble() != TLPreferenceTrouble::None) {
        QPointer<TLAppDelegate> self(this);
        _env.scheduler->after(1.0, [self] {
            if (self) self->_settings.warnIfUnsaved();
        });
    }

    if (_env.snapshotDir) {
        runSnapshotMode();
    } else if (_env.autoOpen || _autoOpenPending) {
        // A moment after the start, so that the status item has its place in the tray.
        _autoOpenPending = true;
        QPointer<TLAppDelegate> self(this);
        _env.scheduler->after(1.2, [self] {
            if (!self || !self->_autoOpenPending) return;
            self->_autoOpenPending = false;
            self->_popover.panelRequested(false);
        });
    }
}

void TLAppDelegate::panelRequested(bool toggle) {
    if (!_panel) { // not launched yet: open once it is
        _autoOpenPending = true;
        return;
    }
    _autoOpenPending = false;
    _popover.panelRequested(toggle);
}

void TLAppDelegate::applicationWillTerminate() {
    _popover.removeOutsideClickMonitor();
}
