// Where this program keeps its files on Linux: the settings and the autostart entry, under the
// XDG configuration directory.

#include "platform/TLBuildConfig.h"
#include "platform/TLLoginItem.h"
#include "platform/TLPreferenceStore.h"

#include <QDir>

namespace {

// ${XDG_CONFIG_HOME:-~/.config}: an unset, empty or relative value is ignored, as the
// base-directory rules say.
QString configHome() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base;
}

} // namespace

TLPreferenceStore TLSystemPreferenceStore() {
    return {configHome() + QStringLiteral("/" TIDE_APP_ID ".conf"), {}, {}};
}

TLLoginItemPlace TLSystemLoginItem() {
    return {configHome() + QStringLiteral("/autostart/" TIDE_APP_ID ".desktop"),
            TLLoginItemFormat::AutostartEntry};
}
