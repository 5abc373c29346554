#include "app/TLCommandLine.h"

#include "platform/TLBuildConfig.h"

#include <QCommandLineParser>

namespace {

const char* const kDescription =
    "A memory and energy monitor in the system tray. Without options it starts in the tray and "
    "replaces a Tide that is already running. --toggle and --show leave the running Tide in "
    "place (bind them to a key) and start one with its panel open where none runs.";

const char* const kEnvironment =
    "\nEnvironment:\n"
    "  TL_SNAPSHOT=DIR    the same as --snapshot DIR\n"
    "  TL_AUTO_OPEN=1     open the panel 1.2 seconds after the start\n"
    "\nFiles:\n"
    "  ~/.config/dev.tide.monitor.conf              the settings\n"
    "  ~/.config/autostart/dev.tide.monitor.desktop start at login (present while it is on)\n";

} // namespace

TLCommandLine TLParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption snapshot(
        QStringLiteral("snapshot"),
        QStringLiteral("Render the panel (light, dark, energy tab) and the two gauge icons as PNG "
                       "files into the existing directory DIR and exit. Needs no display."),
        QStringLiteral("DIR"));
    const QCommandLineOption toggle(
        QStringLiteral("toggle"),
        QStringLiteral("Open the running Tide's panel, or close it if it is open."));
    const QCommandLineOption show(QStringLiteral("show"),
                                  QStringLiteral("Open the running Tide's panel."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(snapshot);
    parser.addOption(toggle);
    parser.addOption(show);

    const QString name = QStringLiteral("tide");
    // The usage line names the program as the user types it, wherever it was started from.
    auto usage = [&] {
        QString text = parser.helpText();
        const qsizetype lineEnd = text.indexOf(u'\n');
        text.replace(0, lineEnd, QStringLiteral("Usage: %1 [options]").arg(name));
        return text + QString::fromLatin1(kEnvironment);
    };

    TLCommandLine result;
    QStringList args = arguments;
    if (args.isEmpty()) args << name;
    if (!parser.parse(args)) {
        result.action = TLCommandLine::Action::Error;
        result.output = name + QStringLiteral(": ") + parser.errorText() + u'\n' + usage();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = TLCommandLine::Action::Error;
        result.output = name + QStringLiteral(": unexpected argument '") +
                        parser.positionalArguments().constFirst() + QStringLiteral("'.\n") +
                        usage();
        return result;
    }
    if (parser.isSet(help)) {
        result.action = TLCommandLine::Action::Help;
        result.output = usage();
        return result;
    }
    if (parser.isSet(version)) {
        result.action = TLCommandLine::Action::Version;
        result.output = name + u' ' + QStringLiteral(TIDE_VERSION) + u'\n';
        return result;
    }
    // --toggle and --show talk to the monitor in the tray, which a snapshot run leaves alone.
    QStringList modes;
    if (parser.isSet(toggle)) modes << QStringLiteral("--toggle");
    if (parser.isSet(show)) modes << QStringLiteral("--show");
    if (parser.isSet(snapshot)) modes << QStringLiteral("--snapshot");
    if (modes.size() > 1) {
        result.action = TLCommandLine::Action::Error;
        result.output =
            name +
            QStringLiteral(": %1 and %2 cannot be used together.\n").arg(modes[0], modes[1]) +
            usage();
        return result;
    }
    if (parser.isSet(snapshot)) result.snapshotDir = parser.value(snapshot);
    if (parser.isSet(toggle)) result.panelRequest = TLCommandLine::PanelRequest::Toggle;
    if (parser.isSet(show)) result.panelRequest = TLCommandLine::PanelRequest::Show;
    return result;
}

int TLCommandLineExitStatus(TLCommandLine::Action action) {
    return action == TLCommandLine::Action::Error ? 2 : 0;
}

QString TLNoDisplayMessage(const QProcessEnvironment& env,
                           const std::function<bool(const QString&)>& x11Reachable) {
    const QString platform = env.value(QStringLiteral("QT_QPA_PLATFORM"));
    const QString display = env.value(QStringLiteral("DISPLAY"));
    const QString wayland = env.value(QStringLiteral("WAYLAND_DISPLAY"));
    const QString instead =
        QStringLiteral("; to get the panel's pictures as PNG files instead, run "
                       "`tide --snapshot DIR`.\n");
    // QT_QPA_PLATFORM may list fallbacks ("wayland;xcb"); the first one is tried first.
    const QString first = platform.section(u';', 0, 0).section(u':', 0, 0).trimmed();
    if (first.isEmpty() && display.isEmpty() && wayland.isEmpty())
        return QStringLiteral("tide: no display to show the tray icon on (neither DISPLAY nor "
                              "WAYLAND_DISPLAY is set)") +
               instead;
    const bool x11 = first == QLatin1String("xcb") || (first.isEmpty() && wayland.isEmpty());
    if (x11 && display.isEmpty())
        return QStringLiteral("tide: no X11 display to show the tray icon on (DISPLAY is not "
                              "set)") +
               instead;
    if (x11 && !x11Reachable(display))
        return QStringLiteral("tide: cannot connect to the X11 display \"%1\"").arg(display) +
               instead;
    return {};
}
