#pragma once
#include <QColor>
#include <QObject>
#include <QRect>
#include <QString>

#include <functional>
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
    // High contrast asked for: the portal's org.freedesktop.appearance contrast (1: higher),
    // GNOME's org.gnome.desktop.a11y.interface high-contrast (through the portal), and the name
    // of KDE's colour scheme (kdeglobals [General] ColorScheme).
    std::optional<bool> portalHighContrast;
    std::optional<bool> gnomeHighContrast;
    QString kdeColorScheme;
};

// Whether the bar that holds the tray icons is dark, from what a Linux desktop declares (where the
// tray's own pixels cannot be read, as on a StatusNotifierItem host, which draws the icon itself):
// - GNOME Shell's top bar is dark in both of its styles;
// - Plasma paints its panel from its colour scheme (kdeglobals);
// - otherwise the desktop portal's colour scheme, GTK's dark preference or theme, KDE's colour
//   scheme, and a palette a platform theme handed to Qt, in that order.
// Nothing declared: empty. Guessing from the desktop's name would be wrong on half of them, so
// the icon is then drawn to read on light and dark bars alike.
std::optional<bool> TLTrayBarIsDarkFromHints(const TLDesktopColorHints& hints);
// The same for this session. On macOS, where the menu bar tints template images itself, it is the
// system appearance (the palette), which the coloured look's outline follows.
std::optional<bool> TLTrayBarIsDark();

// Whether the desktop wants application windows dark, as the panel should look: Plasma's colour
// scheme in a Plasma session, else the portal's colour scheme, GTK's preference, KDE's scheme and
// a themed palette, in that order. Nothing declared: empty (the caller keeps Qt's palette).
std::optional<bool> TLWindowsAreDarkFromHints(const TLDesktopColorHints& hints);
// The same for this session, read anew at each call: the desktop may switch at any time, and
// Qt's palette does not follow every desktop's switch while the program runs. Empty on macOS,
// where the palette does.
std::optional<bool> TLWindowsAreDark();

// Whether the desktop asks for high contrast: the portal's contrast preference, GNOME's
// high-contrast setting, or a KDE colour scheme of high contrast (its name says so, as the
// high-contrast schemes' names do). Nothing declared: no.
bool TLHighContrastFromHints(const TLDesktopColorHints& hints);
// The same for this session (macOS: the Increase Contrast setting), read anew at each call.
bool TLDesktopWantsHighContrast();

// Calls `changed` whenever the desktop tells of a change of the settings its colours come from:
// the desktop portal's SettingChanged signal (colour scheme, contrast, the GNOME and KDE settings
// it relays), on the session bus or on the connection named `connectionName`; and on the session
// bus's loss and the coming of a new one, which is followed. The watch lasts as long as
// `context`. macOS: nothing is watched (the palette follows the system there).
void TLWatchDesktopColors(QObject* context, std::function<void()> changed,
                          const QString& connectionName = {});

// Reads the hints of this session (a D-Bus call to the portal with a short timeout, two small
// files and the application palette).
TLDesktopColorHints TLReadDesktopColorHints();

// The colour of the bar around a status item whose host tells where it is (the XEmbed tray, the
// macOS menu bar), read from the screen inside `slot`, the item's rectangle: the most common
// colour there, since the icon covers only a part of its square. Invalid when the slot is empty
// or the screen cannot be read.
QColor TLTrayBarColorFromScreen(const QRect& slot);
