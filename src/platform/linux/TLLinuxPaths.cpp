// Where this program keeps its files on Linux: the settings and the autostart entry, under the
// XDG configuration directory.

#include "platform/TLBuildConfig.h"
#include "platform/TLLoginItem.h"
#include "platform/TLPreferenceStore.h"

#include <QDir>

namespace {

// ${XDG_CONFIG_HOME:-~/.config}: an unset, empty or relative value is ignored, as the
// base-directory rules say. Empty when there is no home either: without HOME, Qt's home would be
// the root directory, where nothing of one user belongs.
QString configHome() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!base.isEmpty() && !QDir::isRelativePath(base)) return base;
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || QDir::isRelativePath(home)) return {};
    return home + QStringLiteral("/.config");
}

} // namespace

TLPreferenceStore TLSystemPreferenceStore() {
    const QString base = configHome();
    return {base.isEmpty() ? QString() : base + QStringLiteral("/" TIDE_APP_ID ".conf"), {}, {}};
}

TLLoginItemPlace TLSystemLoginItem() {
    const QString base = configHome();
    return {base.isEmpty() ? QString()
                           : base + QStringLiteral("/autostart/" TIDE_APP_ID ".desktop"),
            TLLoginItemFormat::AutostartEntry};
}
