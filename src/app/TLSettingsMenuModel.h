#pragma once
#include "app/TLStatusPresentation.h"
#include <QString>

#include <cstdint>
#include <vector>

// The settings menu as data: built fresh from the preferences at every opening, then turned into
// a toolkit menu. Keeping it as data lets the titles, tags and check marks be checked exactly.

enum class TLSettingsAction {
    None, // an item that only opens its submenu
    SetBarMode,
    SetMetric,
    ToggleShowCPU,
    ToggleMono,
    SetInterval,
    SetRows,
    ToggleGroupApps,
    ToggleLaunchAtLogin,
    ToggleNotifyCriticalPressure,
    OpenActivityMonitor,
    ShowAbout,
    Quit,
};

struct TLSettingsItem {
    bool separator = false;
    QString title;
    TLSettingsAction action = TLSettingsAction::None;
    int64_t tag = 0;
    double value = 0; // the interval items' represented value
    bool checked = false;
    std::vector<TLSettingsItem> submenu;
};

// What the menu's check marks are read from.
struct TLSettingsState {
    TLStatusBarMode barMode = TLStatusBarMode::GaugeAndPercent;
    TLPercentMetric metric = TLPercentMetric::Usage;
    bool showCPU = false;
    bool mono = false;
    double interval = 2.0;
    int64_t rows = 8;
    bool groupApps = false;
    bool launchAtLogin = false;
    bool notifyCriticalPressure = true;
    QString displayName; // empty: the default name

    bool operator==(const TLSettingsState&) const = default;
};

// The display modes, by stored value.
extern const char* const TLBarModeTitles[4];
// The refresh intervals and list lengths the menu offers.
inline constexpr double TLIntervalChoices[] = {1.0, 2.0, 3.0, 5.0};
inline constexpr int64_t TLRowChoices[] = {5, 8, 12};

std::vector<TLSettingsItem> TLBuildSettingsMenu(const TLSettingsState& state);

// "每 %@ 秒" with the number in its shortest decimal form.
QString TLIntervalTitle(double seconds);
