#pragma once
// Which of Qt's window systems the program runs on, where the session offers two, and what that
// lets it know.

#include <QString>

// What the session's environment says (the variables of the same names).
struct TLSessionEnvironment {
    QString qpaPlatform;    // QT_QPA_PLATFORM: the user's own choice
    QString waylandDisplay; // WAYLAND_DISPLAY
    QString display;        // DISPLAY: XWayland beside the compositor
    QString currentDesktop; // XDG_CURRENT_DESKTOP, colon-separated
    QString sessionType;    // XDG_SESSION_TYPE
    static TLSessionEnvironment current();
};

// The platform to run on instead of Qt's own choice, or empty for Qt's choice. On GNOME's Wayland
// session (which offers no layer shell) a Wayland window cannot be placed: the panel would open
// wherever the compositor puts it, far from the icon. Through XWayland it opens at the icon, so
// there the program runs on "xcb", unless the user chose a platform or XWayland is missing.
QString TLPreferredPlatform(const TLSessionEnvironment& env);

// Whether the pointer's place on the screen can be asked: not in a Wayland session, where a
// program sees the pointer only over its own windows (and XWayland only over X windows).
bool TLPointerPositionKnown(const TLSessionEnvironment& env, const QString& platformName);
// The same for the running program.
bool TLPointerPositionKnown();
