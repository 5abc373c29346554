// The desktop services on macOS: process identities and signals, Activity Monitor, the check for
// clicks in other applications, what the window server offers and the keyboard's Control key.

#include "platform/TLBuildConfig.h"
#include "platform/TLDesktopColors.h"
#include "platform/TLFileWatch.h"
#include "platform/TLLoginItem.h"
#include "platform/TLPlatformTexts.h"
#include "platform/TLPopover.h"
#include "platform/TLPreferenceStore.h"
#include "platform/TLServices.h"
#include "platform/TLWindowSystem.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QPalette>
#include <QUrl>

#include <CoreFoundation/CoreFoundation.h>
#include <libproc.h>
#include <signal.h>
#include <sys/proc_info.h>
#include <sys/resource.h>

#include <map>

namespace {

class MacProcessControl final : public TLProcessControl {
public:
    bool startTime(int32_t pid, uint64_t& out) override {
        if (pid <= 0) return false;
        // The same figure the process sample records for a process it can inspect ...
        struct rusage_info_v4 usage {};
        if (proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) == 0) {
            out = usage.ri_proc_start_abstime;
            return out != 0;
        }
        // ... and for the others (which the sample records without one), the start time the
        // kernel tells anyone, in microseconds.
        struct proc_bsdinfo info {};
        if (proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, PROC_PIDTBSDINFO_SIZE) !=
            PROC_PIDTBSDINFO_SIZE)
            return false;
        out = info.pbi_start_tvsec * 1000000 + info.pbi_start_tvusec;
        return out != 0;
    }

    bool sendSignal(int32_t pid, TLEndSignal signal) override {
        // pid 0 and negative pids address process groups or every process: never.
        if (pid <= 0) return false;
        return ::kill(pid, TLSignalNumber(signal)) == 0;
    }
};

constexpr char kActivityMonitor[] = "/System/Applications/Utilities/Activity Monitor.app";

class MacAppLauncher final : public TLAppLauncher {
public:
    bool openSystemMonitor() override {
        // Opening an application bundle's URL launches it, or brings it forward when it runs.
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromUtf8(kActivityMonitor)));
    }
};

// A click in another application makes that application the active one: this one resigns, which
// Qt reports as the application state turning inactive. Clicks in this application's own windows
// (the panel, its menus) keep it active and are not reported.
class MacOutsideClickMonitor final : public TLOutsideClickMonitor {
public:
    MacOutsideClickMonitor() {
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &_context,
                         [this](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationInactive) return;
                             // A copy: a handler may remove itself (closing the panel does).
                             const auto handlers = _handlers;
                             for (const auto& [token, handler] : handlers)
                                 if (_handlers.count(token)) handler();
                         });
    }
    int install(std::function<void()> handler) override {
        const int token = ++_next;
        _handlers.emplace(token, std::move(handler));
        return token;
    }
    void remove(int token) override { _handlers.erase(token); }

private:
    QObject _context;
    std::map<int, std::function<void()>> _handlers;
    int _next = 0;
};

} // namespace

TLProcessControl& TLSystemProcessControl() {
    static MacProcessControl control;
    return control;
}

TLAppLauncher& TLSystemAppLauncher() {
    static MacAppLauncher launcher;
    return launcher;
}

const TLPlatformTexts& TLThisPlatformTexts() {
    return TLMacTexts();
}

TLPreferenceStore TLSystemPreferenceStore() {
    return {QDir::homePath() + QStringLiteral("/Library/Preferences/" TIDE_APP_ID ".plist"),
            QStringLiteral("tide.dev"), QStringLiteral("monitor")};
}

std::unique_ptr<TLFileWatch> TLWatchFile(const QString&, std::function<void()>) {
    // The preferences live in the user defaults domain, which the system's preferences service
    // keeps current for every read: there is no file of ours to watch.
    return nullptr;
}

TLLoginItemPlace TLSystemLoginItem() {
    return {QDir::homePath() + QStringLiteral("/Library/LaunchAgents/" TIDE_APP_ID ".plist"),
            TLLoginItemFormat::LaunchAgent};
}

std::unique_ptr<TLOutsideClickMonitor> TLMakeOutsideClickMonitor() {
    return std::make_unique<MacOutsideClickMonitor>();
}

void TLWatchDesktopColors(QObject*, std::function<void()>, const QString&) {
    // The menu bar's appearance comes with the palette, which Qt keeps up to date.
}

std::optional<bool> TLTrayBarIsDark() {
    // The menu bar follows the system appearance, which Qt hands over as the palette.
    return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

std::optional<bool> TLWindowsAreDark() {
    // Qt's palette follows the system appearance as it changes.
    return std::nullopt;
}

bool TLDesktopWantsHighContrast() {
    // System Settings → Accessibility → Display → Increase contrast.
    const CFStringRef key =
        CFStringCreateWithCString(kCFAllocatorDefault, "increaseContrast", kCFStringEncodingUTF8);
    const CFStringRef domain = CFStringCreateWithCString(
        kCFAllocatorDefault, "com.apple.universalaccess", kCFStringEncodingUTF8);
    Boolean valid = false;
    const Boolean on = key && domain ? CFPreferencesGetAppBooleanValue(key, domain, &valid) : false;
    if (key) CFRelease(key);
    if (domain) CFRelease(domain);
    return valid && on;
}

bool TLWindowSystemComposites() {
    // The window server always composites: translucent corners blend with what lies behind.
    return true;
}

bool TLControlKeyHeld() {
    // Qt maps the Control key to the Meta modifier on macOS.
    return QGuiApplication::queryKeyboardModifiers() & Qt::MetaModifier;
}

void TLKeepOutOfTaskbar(QWidget*) {}

void TLEndStartupFeedback(const QString&) {}

QRect TLTopLevelWindowRectAt(const QPoint&) {
    return {};
}
