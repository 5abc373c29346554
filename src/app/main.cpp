#include "app/TLAppDelegate.h"
#include "app/TLLaunchAtLogin.h"
#include "app/TLPreferences.h"
#include "format/TLStatusBarImage.h"
#include "platform/TLPsRunner.h"
#include "platform/TLSingleInstance.h"
#include "sampling/TLMetrics.h"
#include "widgets/TLFonts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QPalette>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTranslator>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the program like "退出" does.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
}

TLAppearance systemAppearance() {
    return QApplication::palette().color(QPalette::Window).lightnessF() < 0.5 ? TLAppearance::Dark
                                                                              : TLAppearance::Light;
}

} // namespace

int main(int argc, char** argv) {
    // Snapshot mode needs no display: without one, render offscreen.
    const bool snapshot = qEnvironmentVariableIsSet("TL_SNAPSHOT");
    if (snapshot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationName(QStringLiteral(TIDE_APP_ID));
    app.setApplicationDisplayName(QString::fromUtf8(TIDE_DISPLAY_NAME));
    // Menus and alerts in the panel's faces, so that Chinese never falls back to another variant.
    QFont font = QApplication::font();
    font.setFamilies(TLFontFamilies());
    QApplication::setFont(font);

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

    auto statusItem = TLMakeStatusItem();
    auto popover = TLMakePopover();
    auto monitor = TLMakeOutsideClickMonitor();
    auto menus = TLMakeMenuPresenter();
    auto procQueue = TLMakeSerialQueue(QStringLiteral(TIDE_APP_ID ".proc"));

    TLAppEnvironment env;
    env.preferences = &TLPreferences::standard();
    env.statusItem = statusItem.get();
    env.popover = popover.get();
    env.monitor = monitor.get();
    env.menus = menus.get();
    env.procQueue = procQueue.get();
    env.scheduler = &TLMainScheduler();
    env.alerts = &TLSystemAlerts();
    env.launcher = &TLSystemAppLauncher();
    env.panelServices = TLPanelServices::system();
    env.sampleSystem = [] { return TLMetrics::shared().sampleSystem(); };
    env.sampleProcesses = [] { return TLMetrics::shared().sampleProcesses(); };
    env.terminate = [] { QCoreApplication::quit(); };
    env.exitNow = [](int status) {
        std::fflush(nullptr);
        ::_exit(status);
    };
    env.now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    env.systemAppearance = systemAppearance;
    // The tray's appearance, read from its pixels around the icon where the desktop lets us (an
    // embedding tray on X11), looked at again every 30 seconds; a guess from the desktop otherwise.
    env.trayAppearance = [item = statusItem.get(), now = env.now, checked = -1e9,
                          cached = TLTrayAppearance(), seen = false]() mutable {
        const double t = now();
        if (!seen || t - checked >= 30) {
            checked = t;
            const QColor background = item->backgroundColor();
            seen = background.isValid();
            cached = !seen                           ? TLTrayAppearance()
                     : background.lightnessF() < 0.5 ? TLAppearance::Dark
                                                     : TLAppearance::Light;
        }
        return cached;
    };
    env.agentPath = TLAgentPath();
    env.executablePath = QCoreApplication::applicationFilePath();
    env.info = TLCurrentAppInfo();
    if (snapshot) env.snapshotDir = qEnvironmentVariable("TL_SNAPSHOT");
    env.autoOpen = qEnvironmentVariableIsSet("TL_AUTO_OPEN");

    if (!snapshot && !QSystemTrayIcon::isSystemTrayAvailable())
        std::fputs("tide: no system tray is running yet; the icon appears once one starts.\n",
                   stderr);

    TLAppDelegate delegate(env);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] {
        delegate.applicationWillTerminate();
        // A process sample waiting for a hanging ps must not hold up the exit.
        TLStopPsRuns();
    });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    app.exec();
    return 0;
}
