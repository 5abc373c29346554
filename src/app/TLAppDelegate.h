#pragma once
#include "app/TLAppEnvironment.h"
#include "app/TLKillNotifier.h"
#include "app/TLPopoverFlow.h"
#include "app/TLPressureNotifier.h"
#include "app/TLSamplingLoop.h"
#include "app/TLSettingsController.h"
#include "app/TLSnapshotMode.h"
#include "app/TLStatusItemUpdater.h"
#include "panel/TLPanelController.h"
#include "panel/TLPanelDelegate.h"
#include "sampling/TLSystemStats.h"

#include <QObject>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QWidget;

// The application: starts and ends it, owns the panel and the parts that run it (the sampling
// loop, the status item's content, the popover, the settings menu, snapshot mode) and answers the
// panel. Main thread only.
class TLAppDelegate final : public QObject, public TLPanelDelegate {
    Q_OBJECT
public:
    // How many usage values the history keeps.
    static constexpr size_t kHistoryLength = TLSamplingLoop::kHistoryLength;

    explicit TLAppDelegate(TLAppEnvironment env, QObject* parent = nullptr);
    ~TLAppDelegate() override;

    // Start-up: defaults, panel, timer, the first tick, then snapshot mode or the auto-open.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // The sampling loop.
    void restartTimer() { _loop.restartTimer(); }
    void tick() { _loop.tick(); }
    void refreshProcs() { _loop.refreshProcs(); }

    // The status item and the popover. `click` is the mouse event being handled, if any.
    using Click = TLPopoverFlow::Click;
    void statusClicked(std::optional<Click> click = std::nullopt) { _popover.statusClicked(click); }
    void closePopover() { _popover.closePopover(); }
    // Another start asked for the panel (`tide --toggle`, `tide --show`): toggle opens it when it
    // is closed and closes it when it is open, show opens it when it is closed. Either replaces
    // the auto-open still to come, and one that comes before the launch has finished is kept
    // for it.
    void togglePanel() { panelRequested(true); }
    void showPanel() { panelRequested(false); }
    void popUpSettingsFromStatusItem() { _settings.popUpFromStatusItem(); }

    // Without a tray: the panel as an ordinary window until a tray host appears.
    bool showsWithoutTray() const { return _popover.showsWithoutTray(); }

    // TLPanelDelegate.
    void panelDidSelectTab(TLPanelTab tab) override { _settings.setTab(tab); }
    void panelDidClickGear(QWidget* gear) override { _settings.popUpUnderGear(gear); }
    void panelWantsClose() override { _popover.closePopover(); }

    // The settings menu and its actions. settingsMenu() is a new menu; statusMenu() is the one the
    // status item exports, rebuilt from the preferences when a host is about to show it and after
    // every settings action.
    QMenu* settingsMenu() { return _settings.settingsMenu(); }
    QMenu* statusMenu() const { return _settings.statusMenu(); }
    void setBarMode(TLStatusBarMode mode) { _settings.setBarMode(mode); }
    void toggleShowCPU() { _settings.toggleShowCPU(); }
    void quit() { _settings.quit(); }
    void toggleNotifyCriticalPressure() { _settings.toggleNotifyCriticalPressure(); }

    // Snapshot mode.
    void runSnapshotMode() { _snapshot.run(); }

    // State, for the status item, tests and snapshot mode.
    TLPanelController* panel() const { return _panel.get(); }
    const std::vector<double>& history() const { return _loop.history(); }
    bool sampling() const { return _loop.sampling(); }
    const TLGrowthTracker& growth() const { return _loop.growth(); }
    const QTimer& timer() const { return _loop.timer(); }
    TLPressureNotifier& pressureNotifier() { return _notifier; }
    TLKillNotifier& killNotifier() { return _kills; }

private:
    void panelRequested(bool toggle);

    // Declared in the order they are made: each part refers to those above it.
    TLAppEnvironment _env;
    std::unique_ptr<TLPanelController> _panel; // made at launch
    TLStatusItemUpdater _statusItem;
    TLSamplingLoop _loop;
    TLPopoverFlow _popover;
    TLSettingsController _settings;
    TLSnapshotMode _snapshot;
    TLPressureNotifier _notifier;
    TLKillNotifier _kills;
    bool _autoOpenPending = false; // the auto-open, or a request before the launch had finished
};
