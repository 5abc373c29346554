#include "app/TLAppDelegate.h"
#include "app/TLCommandLine.h"
#include "app/TLLaunchAtLogin.h"
#include "app/TLPreferences.h"
#include "app/TLSnapshotMode.h"
#include "app/TLTrayAppearanceCheck.h"
#include "format/TLStatusBarImage.h"
#include "os/TLDescriptorLimit.h"
#include "os/TLPsRunner.h"
#include "platform/TLBuildConfig.h"
#include "platform/TLDesktopColors.h"
#include "platform/TLLayerShell.h"
#include "platform/TLNotifications.h"
#include "platform/TLSessionPlatform.h"
#include "platform/TLSingleInstance.h"
#include "platform/TLWindowSystem.h"
#include "sampling/TLMetrics.h"
#include "widgets/TLFonts.h"

#include <QAccessible>
#include <QApplication>
#include <QLibraryInfo>
#include <QPalette>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>
#include <QTranslator>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// The appearance of the bar that holds the tray icon, as the desktop declares it; empty when it
// does not say.
std::optional<TLAppearance> trayAppearance() {
    const std::optional<bool> dark = TLTrayBarIsDark();
    if (!dark) return std::nullopt;
    return *dark ? TLAppearance::Dark : TLAppearance::Light;
}

int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the program like "退出" does.
void quitOnSignals(QApplication& app) {
#ifdef SOCK_CLOEXEC
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
#else
    // No SOCK_CLOEXEC on macOS: the flag is set right after; nothing is started in between.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    for (int fd : signalPipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
}

// The token the launcher gave this start, for the running copy to activate its panel with:
// Wayland's activation token, else an X11 startup-notification id.
QByteArray launchToken() {
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    return token.isEmpty() ? qgetenv("DESKTOP_STARTUP_ID") : token;
}

// The panel's appearance: what the desktop declares for application windows, else Qt's palette.
TLAppearance systemAppearance() {
    const std::optional<bool> declared = TLWindowsAreDark();
    const bool dark =
        declared ? *declared : QApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
    return dark ? TLAppearance::Dark : TLAppearance::Light;
}

// Qt's platform for this start, as options for its command line, which beats the environment
// and which the programs Tide starts do not inherit. A snapshot run renders offscreen with the
// offscreen platform's own theme, on a display or not: it then shows no window and no tray icon,
// and neither the platform nor a theme the session names (QT_QPA_PLATFORMTHEME) reaches the
// desktop's services or changes the pictures. Where a Wayland session cannot place the panel
// (GNOME), XWayland can.
std::vector<QByteArray> qtPlatformOptions(bool snapshot) {
    if (snapshot) return {"-platform", "offscreen", "-platformtheme", "offscreen"};
    QByteArray platform = TLPreferredPlatform(TLSessionEnvironment::current()).toLatin1();
#ifndef __APPLE__
    if (platform == "xcb" && !TLX11DisplayReachable(qEnvironmentVariable("DISPLAY")))
        platform.clear(); // XWayland cannot be reached: Wayland it is
#endif
    if (platform.isEmpty()) return {};
    return {"-platform", platform};
}
char programName[] = "tide"; // for Qt, where the program was started without argv[0]

// A snapshot run draws at one pixel per point whatever scale the session asks of Qt, which would
// draw the icons larger.
void ignoreSessionScale() {
    for (const char* name :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI", "QT_USE_PHYSICAL_DPI"})
        qunsetenv(name);
}

// The panel and the tray icon follow the desktop's look: the panel's appearance and high
// contrast, read at each opening, and the tray's appearance, read from its pixels around the icon
// where the desktop lets us (an embedding tray on X11), otherwise from what the desktop declares
// (empty when it declares nothing); looked for again every few minutes, and at once when the
// desktop portal tells of new settings.
void followDesktopLook(TLAppEnvironment& env, QObject* context, TLStatusItem* item) {
    env.systemAppearance = systemAppearance;
    env.highContrast = TLDesktopWantsHighContrast;
    auto trayCheck = std::make_shared<TLTrayAppearanceCheck>(
        [item] { return item->backgroundColor(); }, trayAppearance, env.now);
    TLWatchDesktopColors(context, [trayCheck] { trayCheck->recheck(); });
    env.trayAppearance = [trayCheck] { return (*trayCheck)(); };
}

// A request for the panel is about the monitor: TL_SNAPSHOT does not turn it into a snapshot run.
bool isSnapshotRun(const TLCommandLine& commandLine) {
    return commandLine.snapshotDir ||
           (commandLine.panelRequest == TLCommandLine::PanelRequest::None &&
            qEnvironmentVariableIsSet("TL_SNAPSHOT"));
}

// The program's objects that the delegate's environment points to, made for a monitor run or a
// snapshot run.
struct Services {
    std::unique_ptr<TLStatusItem> statusItem;
    std::unique_ptr<TLPopover> popover;
    std::unique_ptr<TLOutsideClickMonitor> monitor;
    std::unique_ptr<TLMenuPresenter> menus;
    std::unique_ptr<TLSerialQueue> procQueue;
    std::unique_ptr<TLNotificationCenter> notifications;

    explicit Services(bool snapshot)
        // A snapshot run's item shows nothing: no tray hears of it.
        : statusItem(snapshot ? TLMakeSnapshotStatusItem() : TLMakeStatusItem()),
          popover(TLMakePopover()), monitor(TLMakeOutsideClickMonitor()),
          menus(TLMakeMenuPresenter()),
          procQueue(TLMakeSerialQueue(QStringLiteral(TIDE_APP_ID ".proc"))) {
        // Only the monitor talks to the desktop's notification service.
        if (!snapshot) notifications = TLMakeNotificationCenter();
    }
};

// The answer to --help, --version or a malformed command line, or to --toggle and --show where a
// running Tide takes the request (it needs no display here); empty where this start goes on.
std::optional<int> answeredBeforeStart(const TLCommandLine& commandLine) {
    if (commandLine.action != TLCommandLine::Action::Run) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
                   commandLine.action == TLCommandLine::Action::Error ? stderr : stdout);
        return TLCommandLineExitStatus(commandLine.action);
    }
    // Where none answers, this start becomes the monitor and opens its panel once it is up.
    if (commandLine.panelRequest != TLCommandLine::PanelRequest::None) {
        const TLSingleInstance running(QStringLiteral(TIDE_APP_ID));
        const auto request = commandLine.panelRequest == TLCommandLine::PanelRequest::Toggle
                                 ? TLSingleInstance::Request::Toggle
                                 : TLSingleInstance::Request::Show;
        if (running.sendRequest(request, launchToken())) return 0;
    }
#ifndef __APPLE__
    // Without a display Qt would abort with advice that does not apply; say what is wrong. (A
    // snapshot run renders offscreen and needs none.)
    if (!isSnapshotRun(commandLine)) {
        const QString problem =
            TLNoDisplayMessage(QProcessEnvironment::systemEnvironment(), TLX11DisplayReachable);
        if (!problem.isEmpty()) {
            std::fputs(problem.toLocal8Bit().constData(), stderr);
            return 1;
        }
    }
#endif
    return std::nullopt;
}

// Qt's command line: the program, the platform options, then the user's arguments. `argv` points
// into `platformOptions`, so it stays where it was made.
struct QtArguments {
    std::vector<QByteArray> platformOptions;
    std::vector<char*> argv;
    int argc = 0;

    QtArguments(const QtArguments&) = delete;
    QtArguments& operator=(const QtArguments&) = delete;
    QtArguments(int count, char** given, bool snapshot)
        : platformOptions(qtPlatformOptions(snapshot)) {
        argv.push_back(count > 0 ? given[0] : programName);
        for (QByteArray& option : platformOptions)
            argv.push_back(option.data());
        if (count > 1) argv.insert(argv.end(), given + 1, given + count);
        argv.push_back(nullptr);
        argc = static_cast<int>(argv.size()) - 1;
    }
};

// What Qt reads from the environment as it starts, set for Tide alone: set before the
// application is made and taken back after, so that the programs Tide starts do not inherit it.
class QtStartSettings {
public:
    explicit QtStartSettings(bool snapshot) {
        // On Wayland the panel may go on the layer shell, which Qt must allow before it starts.
        if (snapshot)
            ignoreSessionScale();
        else
            TLLayerShell::prepareEnvironment();
#ifndef __APPLE__
        // Qt asks once, at start, whether a screen reader runs, and never hears of one started
        // later: Tide runs all day, so a reader turned on after login would find nothing of it.
        // Like the GTK programs of the session, Tide joins the accessibility bus whenever there
        // is one (only readers that listen receive anything from it).
        _joinAccessibilityBus =
            !snapshot && !qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
        if (_joinAccessibilityBus) qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        // Room for the files the process sample keeps open on a machine with many threads; the
        // programs Tide starts get the limit it found.
        if (!snapshot) TLRaiseDescriptorLimit();
        // On X11 Qt hands each painted picture to the X server through shared memory, and before
        // it paints the same place again it waits for the server to be done with it: a round
        // trip to the server, and two more wakeups, every time the tray icon or an open panel
        // changes. Tide's pictures are small (a tray icon, the changed parts of the panel): sent
        // over the connection instead, they cost less than that wait.
        _picturesOverTheConnection = !qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
        if (_picturesOverTheConnection) qputenv("QT_XCB_NO_MITSHM", "1");
#endif
    }
    // Once the application is made.
    void takeBack() const {
#ifndef __APPLE__
        if (_picturesOverTheConnection) qunsetenv("QT_XCB_NO_MITSHM");
        if (_joinAccessibilityBus) {
            QAccessible::isActive(); // creates the bridge, which reads the setting
            qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
        }
#endif
    }

#ifndef __APPLE__
private:
    bool _joinAccessibilityBus = false;
    bool _picturesOverTheConnection = false;
#endif
};

// The application's names, font and threads, set once it is made.
void configureApplication(QApplication& app) {
    // Qt's raster engine hands parts of larger fills to the global thread pool and waits for
    // them. The monitor's pictures are small: one pool thread serves them with the fewest
    // wakeups (the tray icon is drawn in bands that never reach the pool).
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    app.setQuitOnLastWindowClosed(false);
    // The application name becomes the X11 window class ("Tide", with the instance "tide"), a
    // Latin-1 property that desktops match with the desktop entry's StartupWMClass: ASCII. What
    // people read is the display name (window titles, the status item's title). Files and the
    // single-instance check use the identifier explicitly.
    app.setApplicationName(QStringLiteral("Tide"));
    app.setApplicationVersion(QStringLiteral(TIDE_VERSION));
    app.setApplicationDisplayName(QString::fromUtf8(TIDE_DISPLAY_NAME));
    QGuiApplication::setDesktopFileName(QStringLiteral(TIDE_APP_ID));
    // Menus and alerts in the panel's faces, so that Chinese never falls back to another variant.
    QFont font = QApplication::font();
    font.setFamilies(TLFontFamilies());
    QApplication::setFont(font);
}

// The delegate's environment: the program's services, the system's samplers and clocks.
TLAppEnvironment makeEnvironment(Services& services, QObject* context, bool snapshot) {
    TLAppEnvironment env;
    env.preferences = &TLPreferences::standard();
    env.statusItem = services.statusItem.get();
    env.popover = services.popover.get();
    env.monitor = services.monitor.get();
    env.menus = services.menus.get();
    env.procQueue = services.procQueue.get();
    env.scheduler = &TLMainScheduler();
    env.alerts = &TLSystemAlerts();
    env.launcher = &TLSystemAppLauncher();
    env.panelServices = TLPanelServices::system();
    env.notifications = services.notifications.get();
    env.makePressureWatch = [](QString* whyNot) { return TLMakePressureWatch(whyNot); };
    env.makeKillWatch = [](QString* whyNot) { return TLMakeKillWatch(whyNot); };
    env.sampleSystem = [] { return TLMetrics::shared().sampleSystem(); };
    env.sampleProcesses = [] { return TLMetrics::shared().sampleProcesses(); };
    env.releaseProcesses = [] { TLMetrics::shared().releaseProcessFiles(); };
    env.terminate = [] { QCoreApplication::quit(); };
    env.exitNow = [](int status) {
        std::fflush(nullptr);
        ::_exit(status);
    };
    env.now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    // A snapshot run draws in the looks its pictures always have, and asks the desktop nothing.
    if (!snapshot) followDesktopLook(env, context, services.statusItem.get());
    env.agentPath = TLAgentPath();
    env.executablePath = QCoreApplication::applicationFilePath();
    env.info = TLCurrentAppInfo();
    return env;
}

// `tide --toggle` and `tide --show` started later. The launcher's token goes with a request that
// brings the panel forward: Qt's Wayland platform activates the next window with the token in
// XDG_ACTIVATION_TOKEN (and clears it). On X11 it names launch feedback (a busy cursor) that the
// sender, which shows no window, cannot end: it ends here.
void answerLaterStarts(TLSingleInstance& instance, TLAppDelegate& delegate, TLPopover* popover) {
    auto takeToken = [waylandQt = QGuiApplication::platformName().startsWith(u"wayland"),
                      popover](const QString& token) {
        if (token.isEmpty()) return;
        const bool opens = !popover->isShown() || popover->isWindow();
        if (waylandQt && opens) qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
        TLEndStartupFeedback(token);
    };
    QObject::connect(&instance, &TLSingleInstance::toggleRequested, &delegate,
                     [&delegate, takeToken](const QString& token) {
                         takeToken(token);
                         delegate.togglePanel();
                     });
    QObject::connect(&instance, &TLSingleInstance::showRequested, &delegate,
                     [&delegate, takeToken](const QString& token) {
                         takeToken(token);
                         delegate.showPanel();
                     });
}

} // namespace

int main(int argc, char** argv) {
    // The command line first: --help and --version answer without a display and without asking
    // a running Tide to quit.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const TLCommandLine commandLine = TLParseCommandLine(arguments);
    if (const std::optional<int> status = answeredBeforeStart(commandLine)) return *status;
    const bool panelRequest = commandLine.panelRequest != TLCommandLine::PanelRequest::None;
    const bool snapshot = isSnapshotRun(commandLine);

    QtStartSettings startSettings(snapshot);
    QtArguments qtArguments(argc, argv, snapshot);
    QApplication app(qtArguments.argc, qtArguments.argv.data());
    startSettings.takeBack();
    configureApplication(app);
    // The interface is Chinese: standard buttons too.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);

    // One copy per user: a new start asks the running one to quit and takes its place. A snapshot
    // run is not a copy of the monitor: it renders its pictures and ends, so it leaves the user's
    // running monitor alone (replacing it would leave the tray empty once the snapshot exits).
    TLSingleInstance instance(QStringLiteral(TIDE_APP_ID));
    QObject::connect(&instance, &TLSingleInstance::quitRequested, &app, &QCoreApplication::quit);
    if (!snapshot) instance.start();
    quitOnSignals(app);

    Services services(snapshot);
    TLAppEnvironment env = makeEnvironment(services, &app, snapshot);
    if (snapshot)
        env.snapshotDir = commandLine.snapshotDir.value_or(qEnvironmentVariable("TL_SNAPSHOT"));
    env.autoOpen = panelRequest || qEnvironmentVariableIsSet("TL_AUTO_OPEN");
    // Start at login that names a program which is gone (a moved clone, an uninstalled copy)
    // would silently do nothing at the next login: point it at this one.
    if (!snapshot)
        TLRepairLaunchAtLogin(env.agentPath, env.executablePath, TLDisplayName(env.info));

    TLAppDelegate delegate(env);
    answerLaterStarts(instance, delegate, services.popover.get());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] {
        delegate.applicationWillTerminate();
        // A process sample waiting for a hanging ps must not hold up the exit.
        TLStopPsRuns();
    });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    app.exec();
    return 0;
}
