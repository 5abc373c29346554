#include "platform/TLSessionPlatform.h"

#include <QGuiApplication>
#include <QStringList>

#include <algorithm>

TLSessionEnvironment TLSessionEnvironment::current() {
    TLSessionEnvironment env;
    env.qpaPlatform = qEnvironmentVariable("QT_QPA_PLATFORM");
    env.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    env.display = qEnvironmentVariable("DISPLAY");
    env.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    env.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE");
    return env;
}

namespace {

bool isGnome(const QString& currentDesktop) {
    const QStringList names = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return std::any_of(names.cbegin(), names.cend(), [](const QString& name) {
        return name.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0;
    });
}

bool waylandSession(const TLSessionEnvironment& env) {
    return !env.waylandDisplay.isEmpty() ||
           env.sessionType.compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString TLPreferredPlatform(const TLSessionEnvironment& env) {
    if (!env.qpaPlatform.isEmpty() || env.waylandDisplay.isEmpty() || env.display.isEmpty())
        return {};
    return isGnome(env.currentDesktop) ? QStringLiteral("xcb") : QString();
}

bool TLPointerPositionKnown(const TLSessionEnvironment& env, const QString& platformName) {
    if (platformName.startsWith(QLatin1String("wayland"))) return false;
    if (platformName == QLatin1String("xcb")) return !waylandSession(env);
    return true; // macOS, Windows; offscreen tests
}

bool TLPointerPositionKnown() {
    static const bool known =
        TLPointerPositionKnown(TLSessionEnvironment::current(), QGuiApplication::platformName());
    return known;
}
