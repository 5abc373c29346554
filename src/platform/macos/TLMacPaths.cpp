// Where Tide keeps its things on macOS: the preferences in the user defaults domain and the
// launch agent that starts it at login.

#include "platform/TLBuildConfig.h"
#include "platform/TLFileWatch.h"
#include "platform/TLLoginItem.h"
#include "platform/TLPreferenceStore.h"

#include <QDir>

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
