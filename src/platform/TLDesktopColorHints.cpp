#include "platform/TLDesktopColors.h"

#include <QStringView>

namespace {

bool isDark(const QColor& c) {
    return c.lightnessF() < 0.5;
}

bool runs(const TLDesktopColorHints& hints, QStringView desktop) {
    for (QStringView name : QStringView(hints.currentDesktop).split(u':'))
        if (name.trimmed().compare(desktop, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// What the desktop asks applications to look like: the portal's colour scheme, GTK's dark
// preference or theme, KDE's colour scheme, then a palette a platform theme handed to Qt.
std::optional<bool> applicationsDark(const TLDesktopColorHints& hints) {
    if (hints.portalColorScheme == 1) return true;
    if (hints.portalColorScheme == 2) return false;
    if (hints.gtkDark) return *hints.gtkDark;
    if (hints.kdeWindow.isValid()) return isDark(hints.kdeWindow);
    if (hints.themePalette.isValid()) return isDark(hints.themePalette);
    return std::nullopt;
}

} // namespace

std::optional<bool> TLTrayBarIsDarkFromHints(const TLDesktopColorHints& hints) {
    // GNOME Shell draws its top bar dark in its light and its dark style alike.
    if (runs(hints, u"gnome")) return true;
    // Plasma paints its panel from the colour scheme.
    if (runs(hints, u"kde") && hints.kdeWindow.isValid()) return isDark(hints.kdeWindow);
    return applicationsDark(hints);
}

std::optional<bool> TLWindowsAreDarkFromHints(const TLDesktopColorHints& hints) {
    // Plasma's colour scheme is what its windows are painted with, whatever else is set.
    if (runs(hints, u"kde") && hints.kdeWindow.isValid()) return isDark(hints.kdeWindow);
    return applicationsDark(hints);
}

bool TLHighContrastFromHints(const TLDesktopColorHints& hints) {
    if (hints.portalHighContrast.value_or(false) || hints.gnomeHighContrast.value_or(false))
        return true;
    QString scheme = hints.kdeColorScheme;
    scheme.remove(u' ');
    return scheme.contains(u"HighContrast", Qt::CaseInsensitive);
}
