#pragma once
#include "app/TLSettingsMenuModel.h"
#include "panel/TLPanelDelegate.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QWidget;
struct TLAppEnvironment;
class TLPanelController;
class TLPopoverFlow;
class TLSamplingLoop;
struct TLAlert;
enum class TLPreferenceTrouble;

// What the user is told when this run's settings may not be kept (the store's trouble, the
// preference file's path).
TLAlert TLPreferenceTroubleAlert(TLPreferenceTrouble trouble, const QString& path);

// The settings menu and what its items do: the menu built from the preferences, the one the status
// item exports (kept current), the setters that store a choice and apply it at once, telling the
// user once per run when a choice could not be saved, and the commands the menu offers (start at
// login, About, the system monitor, quitting). Main thread only.
class TLSettingsController final : public QObject {
    Q_OBJECT
public:
    TLSettingsController(const TLAppEnvironment& env, TLSamplingLoop& loop, TLPopoverFlow& popover);
    // The panel, once the application has made it at launch.
    void setPanel(TLPanelController* panel) { _panel = panel; }
    ~TLSettingsController() override;

    // The settings menu as the item's own menu, for the trays that show it by themselves.
    void installStatusMenu();
    // A new menu; statusMenu() is the one the status item exports, rebuilt from the preferences
    // when a host is about to show it and after every settings action.
    QMenu* settingsMenu();
    QMenu* statusMenu() const { return _statusMenu.get(); }
    void refreshStatusMenu();
    void popUpFromStatusItem();
    // Under the panel's gear button.
    void popUpUnderGear(QWidget* gear);

    void setBarMode(TLStatusBarMode mode);
    void setMetric(TLPercentMetric metric);
    void toggleShowCPU();
    void toggleMono();
    void setInterval(double seconds);
    void setRows(int64_t tag);
    void toggleGroupApps();
    void setTab(TLPanelTab tab);
    void quit();
    void toggleLaunchAtLogin();
    void toggleNotifyCriticalPressure();
    bool launchAtLoginEnabled() const;
    void showAbout();
    void openAM();
    // Tells the user, once per run, that this run's settings may not be kept: at the start when
    // the file cannot be read or has no place, after a change when it could not be saved.
    void warnIfUnsaved();

signals:
    // "内存压力严重时通知" was switched (the preference is already stored).
    void notifyCriticalPressureChanged();

private:
    TLSettingsState settingsState() const;
    void fillSettingsMenu(QMenu* menu, const TLSettingsState& state);
    void addSettingsItems(QMenu* menu, const std::vector<TLSettingsItem>& items);
    // What choosing the item does, through this controller while it lives; empty for none.
    std::function<void()> handlerFor(const TLSettingsItem& item);

    const TLAppEnvironment& _env;
    TLSamplingLoop& _loop;
    TLPopoverFlow& _popover;
    TLPanelController* _panel = nullptr; // made at launch
    bool _warnedUnsaved = false;         // told this run that settings cannot be saved
    std::unique_ptr<QMenu> _statusMenu;
    std::optional<TLSettingsState> _statusMenuState; // what _statusMenu was built from
};
