#pragma once
#include <QColor>
#include <QString>

#include <optional>

// What a Linux desktop declares about its colours, read where it keeps them. Each field is empty
// when the desktop does not say.
struct TLDesktopColorHints {
    QString currentDesktop; // XDG_CURRENT_DESKTOP, a colon-separated list
    // The desktop portal's org.freedesktop.appearance color-scheme: 1 prefers dark, 2 prefers
    // light; 0 (no preference) and no portal leave it empty.
    std::optional<int> portalColorScheme;
    // GTK's settings.ini: gtk-application-prefer-dark-theme, or a theme named dark.
    std::optional<bool> gtkDark;
    // KDE's kdeglobals: the window background of the colour scheme ([Colors:Window]).
    QColor kdeWindow;
    // The window colour of Qt's palette when a platform theme set it (not the style's default).
    QColor themePalette;
};

// Reads the hints of this session (a D-Bus call to the portal with a short timeout, two small
// files and the application palette).
TLDesktopColorHints TLReadDesktopColorHints();
