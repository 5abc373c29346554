#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The command line of `tide`: read before any window-system connection exists, so that --help and
// --version work without a display and never reach a running Tide.
struct TLCommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // Help or version text (for stdout), or the error and the usage (for stderr), ending in a
    // line break. Empty for Run.
    QString output;
    // --snapshot DIR: the same as TL_SNAPSHOT=DIR (an empty DIR means the working directory).
    std::optional<QString> snapshotDir;
    // --toggle or --show: asks the running Tide to toggle or open its panel and exits; where
    // none runs (or it does not answer), starts the monitor and opens the panel. Neither goes
    // with the other or with --snapshot.
    enum class PanelRequest { None, Toggle, Show };
    PanelRequest panelRequest = PanelRequest::None;
};

// `arguments` includes the program name first, as argv does.
TLCommandLine TLParseCommandLine(const QStringList& arguments);

// The exit status for an action that ends the program before it starts: 0 for help and
// version, 2 for a bad command line.
int TLCommandLineExitStatus(TLCommandLine::Action action);

// Why the monitor cannot start in this environment, as one sentence ending in a line break, or
// an empty string when it can try. Only the window system Qt would pick is judged: no display
// variable at all, or an X11 display the program cannot connect to (`x11Reachable` is asked
// about the DISPLAY value). Other Qt platforms (offscreen, a named Wayland one) are left to Qt.
QString TLNoDisplayMessage(const QProcessEnvironment& env,
                           const std::function<bool(const QString&)>& x11Reachable);
