#pragma once
#include "app/TLSettingsMenuModel.h"
#include "app/TLTrayIcon.h"
#include "format/TLColor.h"
#include "panel/TLPanelController.h"
#include "panel/TLPanelDelegate.h"
#include "platform/TLAppInfo.h"
#include "platform/TLDesktop.h"
#include "platform/TLServices.h"
#include "sampling/TLProc.h"
#include "sampling/TLSystemStats.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class TLPreferences;

// Everything the application delegate talks to. The real program fills it with the desktop's
// services (TLAppEnvironment::system()); tests fill it with fakes and a virtual scheduler.
struct TLAppEnvironment {
    TLPreferences* preferences = nullptr;
    TLStatusItem* statusItem = nullptr;
    TLPopover* popover = nullptr;
    TLOutsideClickMonitor* monitor = nullptr;
    TLMenuPresenter* menus = nullptr;
    TLSerialQueue* procQueue = nullptr;
    TLScheduler* scheduler = nullptr;
    TLAlertPresenter* alerts = nullptr;
    TLAppLauncher* launcher = nullptr;
    TLPanelServices panelServices;

    std::function<TLSystemStats()> sampleSystem;
    std::function<std::vector<TLProc>()> sampleProcesses; // called on the process queue
    std::function<void()> releaseProcesses; // on the process queue, when the panel has closed
    std::function<void()> terminate;        // ends the application normally
    std::function<void(int)> exitNow;       // ends the process at once
    std::function<double()> now;            // seconds, monotonic
    std::function<TLAppearance()> systemAppearance; // the live popover's appearance
    // The tray the icon sits on; empty when nothing tells (the icon then reads on both).
    std::function<std::optional<TLAppearance>()> trayAppearance;

    QString agentPath;      // the start-at-login file
    QString executablePath; // this program, for start at login
    TLAppInfo info;
    std::optional<QString> snapshotDir; // TL_SNAPSHOT, when set (even empty)
    bool autoOpen = false;              // TL_AUTO_OPEN is set
};

// The application: owns the status item's content, the panel, the timer, the history and the
// process sampling, and answers the panel and the settings menu. Main thread only.
class TLAppDelegate final : public QObject, public TLPanelDelegate {
    Q_OBJECT
public:
    // How many usage values the history keeps.
    static constexpr size_t kHistoryLength = 90;

    explicit TLAppDelegate(TLAppEnvironment env, QObject* parent = nullptr);
    ~TLAppDelegate() override;

    // Start-up: defaults, panel, timer, the first tick, then snapshot mode or the auto-open.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // The sampling loop.
    void restartTimer();
    void tick();
    void refreshProcs();
    void updateStatusItem(const TLSystemStats& sample);

    // The status item and the popover. `click` is the mouse event being handled, if any.
    struct Click {
        TLStatusItem::Button button = TLStatusItem::Button::Left;
        bool control = false;
    };
    void statusClicked(std::optional<Click> click = std::nullopt);
    void closePopover();
    void popUpSettingsFromStatusItem();

    // Without a tray: the panel as an ordinary window until a tray host appears.
    void trayAvailabilityChanged(bool available);
    void showWithoutTray();
    bool showsWithoutTray() const { return _standalone; }

    // TLPanelDelegate.
    void panelDidSelectTab(int64_t tab) override;
    void panelDidClickGear(QWidget* gear) override;
    void panelWantsClose() override;

    // The settings menu and its actions. settingsMenu() is a new menu; statusMenu() is the one the
    // status item exports, rebuilt from the preferences when a host is about to show it and after
    // every settings action.
    QMenu* settingsMenu();
    QMenu* statusMenu() const { return _statusMenu.get(); }
    void refreshStatusMenu();
    void setBarMode(int64_t tag);
    void setMetric(int64_t tag);
    void toggleShowCPU();
    void toggleMono();
    void setInterval(double seconds);
    void setRows(int64_t tag);
    void quit();
    void toggleLaunchAtLogin();
    bool launchAtLoginEnabled() const;
    void showAbout();
    void openAM();

    // Snapshot mode.
    void runSnapshotMode();
    void snapshotStep(int step, const QString& dir);
    void next(int step, const QString& dir);

    // State, for the status item, tests and snapshot mode.
    TLPanelController* panel() const { return _panel.get(); }
    const std::vector<double>& history() const { return _history; }
    bool sampling() const { return _sampling; }
    bool monitorInstalled() const { return _monitorToken != 0; }
    const QTimer& timer() const { return _timer; }

private:
    // After a settings change: tells the user, once per run, when it could not be saved.
    void warnIfUnsaved();
    QString displayName() const;
    void outsideClickClose();
    TLSettingsState settingsState() const;
    void waitForTray();
    void fillSettingsMenu(QMenu* menu, const TLSettingsState& state);

    TLAppEnvironment _env;
    std::unique_ptr<TLPanelController> _panel;
    QTimer _timer;
    std::vector<double> _history;
    bool _sampling = false;
    int _monitorToken = 0;
    bool _warnedUnsaved = false; // told this run that settings cannot be saved
    quint64 _iconKey = 0;
    bool _hasIcon = false;
    // The four display choices, read once and again after the settings menu changed one.
    struct DisplayChoices {
        int64_t barMode = 0;
        int64_t metric = 0;
        bool mono = false;
        bool showCPU = false;
    };
    std::optional<DisplayChoices> _display;
    // Everything the status item shows, written out without allocating: a tick that would show
    // the same does nothing more.
    struct ShownKey {
        char text[256] = {};
        size_t length = 0;
        bool operator==(const ShownKey& o) const {
            return length == o.length && std::memcmp(text, o.text, length) == 0;
        }
    };
    ShownKey _shown;
    bool _hasShown = false;
    TLTrayIconContent _lastContent; // what the tray icon was last drawn from
    std::optional<TLAppearance> _lastTray;
    long _lastFill = -1;
    double _lastOutsideClose = -1e9;
    int _outsideGeneration = 0; // cancels a pending outside-click close
    bool _standalone = false;   // the panel is shown as a window, for want of a tray
    std::unique_ptr<QMenu> _statusMenu;
    std::optional<TLSettingsState> _statusMenuState; // what _statusMenu was built from
};

// Writes the panel view as a PNG at one pixel per point over the opaque snapshot background
// (device white 0.17 when dark, 0.96 otherwise), atomically; failures are not reported.
void TLWriteSnapshot(QWidget* view, const QString& path, bool dark);
// The path of a snapshot file in the output directory (the working directory when empty).
QString TLSnapshotPath(const QString& dir, const QString& name);
