#include "platform/TLDesktopColors.h"

#include <QStringView>

std::optional<bool> TLTrayBarIsDarkFromHints(const TLDesktopColorHints& hints) {
    const auto dark = [](const QColor& c) { return c.lightnessF() < 0.5; };
    bool gnome = false, kde = false;
    for (QStringView desktop : QStringView(hints.currentDesktop).split(u':')) {
        const QString name = desktop.trimmed().toString().toLower();
        gnome = gnome || name == u"gnome";
        kde = kde || name == u"kde";
    }
    // GNOME Shell draws its top bar dark in its light and its dark style alike.
    if (gnome) return true;
    // Plasma paints its panel from the colour scheme.
    if (kde && hints.kdeWindow.isValid()) return dark(hints.kdeWindow);
    if (hints.portalColorScheme == 1) return true;
    if (hints.portalColorScheme == 2) return false;
    if (hints.gtkDark) return *hints.gtkDark;
    if (hints.kdeWindow.isValid()) return dark(hints.kdeWindow);
    if (hints.themePalette.isValid()) return dark(hints.themePalette);
    return std::nullopt;
}
