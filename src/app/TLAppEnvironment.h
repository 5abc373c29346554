#pragma once
#include "format/TLColor.h"
#include "panel/TLPanelController.h"
#include "platform/TLAppInfo.h"
#include "platform/TLNotifications.h"
#include "platform/TLPopover.h"
#include "platform/TLSerialQueue.h"
#include "platform/TLServices.h"
#include "platform/TLStatusItem.h"
#include "sampling/TLProc.h"
#include "sampling/TLSystemStats.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TLPreferences;

// Everything the application delegate talks to. The real program fills it with the desktop's
// services (main.cpp); tests fill it with fakes and a virtual scheduler.
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
    TLNotificationCenter* notifications = nullptr; // none: critical pressure goes unannounced
    // Arms a watch on memory pressure (the reason in its argument where refused); none: the
    // ticks alone find a critical level.
    std::function<std::unique_ptr<TLPressureWatch>(QString*)> makePressureWatch;
    // Arms a watch on the kills the system makes for memory (the reason where refused); none:
    // they go untold.
    std::function<std::unique_ptr<TLKillWatch>(QString*)> makeKillWatch;

    std::function<TLSystemStats()> sampleSystem;
    std::function<std::vector<TLProc>()> sampleProcesses; // called on the process queue
    std::function<void()> releaseProcesses; // on the process queue, when the panel has closed
    std::function<void()> terminate;        // ends the application normally
    std::function<void(int)> exitNow;       // ends the process at once
    std::function<double()> now;            // seconds, monotonic
    std::function<TLAppearance()> systemAppearance; // the live popover's appearance
    std::function<bool()> highContrast;             // whether the desktop asks for it
    // The tray the icon sits on; empty when nothing tells (the icon then reads on both).
    std::function<std::optional<TLAppearance>()> trayAppearance;

    QString agentPath;      // the start-at-login file
    QString executablePath; // this program, for start at login
    TLAppInfo info;
    std::optional<QString> snapshotDir; // TL_SNAPSHOT, when set (even empty)
    bool autoOpen = false;              // TL_AUTO_OPEN is set
};
