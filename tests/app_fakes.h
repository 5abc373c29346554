#pragma once
// Fakes of the desktop for driving the application delegate headless: a virtual clock and
// scheduler, a status item, popover, outside-click monitor, menu presenter and a process queue
// that holds its jobs until the test runs them.
#include "app/TLAppDelegate.h"
#include "app/TLPreferences.h"
#include "panel_fakes.h"
#include "platform/TLNotifications.h"
#include "platform/TLPopover.h"
#include "platform/TLSerialQueue.h"
#include "platform/TLServices.h"
#include "platform/TLStatusItem.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Runs delayed work on a clock the test advances by hand; records every delay asked for.
struct VirtualScheduler final : TLScheduler {
    struct Job {
        double due;
        std::function<void()> work;
    };
    double clock = 0;
    std::vector<double> delays;
    std::vector<Job> pending; // in the order scheduled

    void after(double seconds, std::function<void()> work) override {
        delays.push_back(seconds);
        pending.push_back({clock + seconds, std::move(work)});
    }
    // Runs the earliest job (the first scheduled among equals) at its time; false when none.
    bool runNext() {
        if (pending.empty()) return false;
        auto it = std::min_element(pending.begin(), pending.end(),
                                   [](const Job& a, const Job& b) { return a.due < b.due; });
        Job job = std::move(*it);
        pending.erase(it);
        clock = std::max(clock, job.due);
        job.work();
        return true;
    }
    // Moves the clock on by `seconds`, running what falls due on the way, in time order.
    void advance(double seconds) {
        const double end = clock + seconds;
        for (;;) {
            auto it = std::min_element(pending.begin(), pending.end(),
                                       [](const Job& a, const Job& b) { return a.due < b.due; });
            if (it == pending.end() || it->due > end + 1e-9) break;
            runNext();
        }
        clock = end;
    }
};

// The settings menu as text: one line per entry, submenu entries indented, "[x]"/"[ ]" before
// checkable items, "--" for separators.
inline QString DescribeMenu(const QMenu* menu, const QString& indent = QString()) {
    QString text;
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            text += indent + QStringLiteral("--\n");
        } else if (a->menu()) {
            text +=
                indent + a->text() + u'\n' + DescribeMenu(a->menu(), indent + QStringLiteral("  "));
        } else {
            const QString mark = !a->isCheckable() ? QString()
                                 : a->isChecked()  ? QStringLiteral("[x] ")
                                                   : QStringLiteral("[ ] ");
            text += indent + mark + a->text() + u'\n';
        }
    }
    return text;
}

// The item reached through submenu titles, then its own title; null when there is none.
inline QAction* FindMenuAction(const QMenu* menu, const QStringList& path) {
    for (qsizetype i = 0; menu && i < path.size(); ++i) {
        QAction* found = nullptr;
        for (QAction* a : menu->actions())
            if (!a->isSeparator() && a->text() == path[i]) found = a;
        if (!found) return nullptr;
        if (i + 1 == path.size()) return found;
        menu = found->menu();
    }
    return nullptr;
}

struct FakeStatusItem final : TLStatusItem {
    std::vector<quint64> iconKeys; // every icon sent, by key
    std::vector<QString> titles;
    std::vector<QString> toolTips;
    QRect rect{1200, 0, 24, 24};
    std::vector<QString> menus;                // each menu popped up, described
    std::function<void(QMenu*)> whileMenuOpen; // the user's choice while the menu is open

    QPointer<QMenu> contextMenu; // the menu the item exports
    bool available = true;       // a tray host runs
    bool toolTipSuppressed = false;

    QIcon lastIcon;
    bool room = false; // the bar has room for picture and text side by side (macOS)
    void setIcon(const QIcon& icon, quint64 key) override {
        iconKeys.push_back(key);
        lastIcon = icon;
    }
    bool hasRoomBesideImage() const override { return room; }
    bool titleAsText = false; // the host shows the title beside the picture (GNOME Shell)
    bool showsTitleAsText() const override { return titleAsText; }
    void setTitle(const QString& title) override { titles.push_back(title); }
    void setToolTip(const QString& toolTip) override { toolTips.push_back(toolTip); }
    void setToolTipSuppressed(bool suppressed) override { toolTipSuppressed = suppressed; }
    void setContextMenu(QMenu* menu) override { contextMenu = menu; }
    bool trayAvailable() const override { return available; }
    bool mayReturnSoon = true;
    bool trayMayReturnSoon() const override { return mayReturnSoon; }
    void setAvailable(bool a) {
        available = a;
        emit trayAvailabilityChanged(a);
    }
    QRect geometry() const override { return rect; }
    void popUpMenu(QMenu* menu) override {
        menus.push_back(DescribeMenu(menu));
        if (whileMenuOpen) whileMenuOpen(menu);
    }
    void click(Button button, bool control = false) { emit clicked(button, control); }
};

struct FakePopover final : TLPopover {
    bool shown = false;
    bool asWindow = false;
    QString windowTitle;
    std::vector<QRect> anchors;
    std::vector<QWidget*> contents;
    int closes = 0;

    bool isShown() const override { return shown; }
    bool isWindow() const override { return shown && asWindow; }
    void showAsWindow(QWidget* content, const QString& title) override {
        shown = asWindow = true;
        windowTitle = title;
        contents.push_back(content);
    }
    void userClosesWindow() {
        shown = asWindow = false;
        emit windowClosedByUser();
    }
    void show(QWidget* content, const QRect& anchor, std::optional<QPoint> hint) override {
        (void)hint;
        shown = true;
        asWindow = false;
        anchors.push_back(anchor);
        contents.push_back(content);
    }
    void close() override {
        shown = asWindow = false;
        ++closes;
    }
    QWidget* window() const override { return nullptr; }
    // The user presses Escape in the window.
    void escape() { emit closeRequested(); }
};

struct FakeMonitor final : TLOutsideClickMonitor {
    std::map<int, std::function<void()>> handlers;
    int installs = 0;
    int next = 1;
    bool covers = false; // presses on the status item reach the monitor, not the tray

    bool coversStatusItem() const override { return covers; }

    int install(std::function<void()> handler) override {
        ++installs;
        handlers[next] = std::move(handler);
        return next++;
    }
    void remove(int token) override { handlers.erase(token); }
    // A mouse-down in another application.
    void fire() {
        auto copy = handlers;
        for (auto& [token, handler] : copy)
            handler();
    }
};

struct FakeMenus final : TLMenuPresenter {
    struct Popup {
        QPointer<QMenu> menu;
        QPoint at;
        QWidget* view;
    };
    std::vector<Popup> popups;

    ~FakeMenus() override {
        for (Popup& p : popups)
            delete p.menu.data();
    }
    void popUp(QMenu* menu, const QPoint& at, QWidget* view) override {
        popups.push_back({menu, at, view});
    }
};

// Holds each job until the test runs it, so the time between request and result is observable.
struct HeldQueue final : TLSerialQueue {
    std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs;

    void async(std::function<void()> work, std::function<void()> done) override {
        jobs.emplace_back(std::move(work), std::move(done));
    }
    // Runs the oldest job and hands its result back; false when none is waiting.
    bool runOne() {
        if (jobs.empty()) return false;
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job.first();
        if (job.second) job.second();
        return true;
    }
};

// Records the notifications posted; the test plays the user choosing an action.
struct FakeNotifications final : TLNotificationCenter {
    std::vector<TLNotification> posted;
    void post(const TLNotification& notification) override { posted.push_back(notification); }
    void choose(const QString& key) { emit actionInvoked(key); }
};

// A pressure watch the test fires.
struct FakePressureWatch final : TLPressureWatch {
    void stall() { emit stalled(); }
};

// A kill watch the test fires.
struct FakeKillWatch final : TLKillWatch {
    void kill(const TLKillReport& report) { emit killed(report); }
};

// The delegate over fakes, with scripted samples and a real preference file in a temporary
// directory. Set the fields, then launch().
struct AppHarness {
    QTemporaryDir dir;
    std::unique_ptr<TLPreferences> prefs;
    std::vector<std::string> log;
    FakeStatusItem statusItem;
    FakePopover popover;
    FakeMonitor monitor;
    FakeMenus menus;
    HeldQueue queue;
    VirtualScheduler scheduler;
    FakeAlerts alerts;
    FakeLauncher launcher;
    FakeNotifications notifications;
    TLProcessControl* processes = nullptr; // the panel's, for the process commands
    std::optional<QString> watchRefusal;   // set: the system refuses a pressure watch
    QPointer<FakePressureWatch> watch;     // the one armed, while it lives
    int watchesMade = 0;
    QPointer<FakeKillWatch> killWatch; // the one armed, while it lives

    TLSystemStats sample;
    int systemSamples = 0;
    std::vector<TLProc> procs;
    int processSamples = 0;
    int processReleases = 0; // what the sampling keeps was let go (the panel closed)
    int terminations = 0;
    std::vector<int> exits;
    TLAppearance systemAppearance = TLAppearance::Light;
    TLAppearance trayAppearance = TLAppearance::Dark;
    TLAppInfo info{QStringLiteral("潮汐"), QStringLiteral("1.2"), QStringLiteral("作者"), {}};
    std::optional<QString> snapshotDir;
    bool autoOpen = false;

    std::unique_ptr<TLAppDelegate> app; // last: goes before the fakes it uses

    AppHarness() {
        prefs = std::make_unique<TLPreferences>(prefsPath());
        launcher.log = &log;
        sample.total = 16ULL << 30;
        sample.used = 8ULL << 30;
        sample.usagePercent = 50;
        sample.pressurePercent = 20;
        sample.pressureLevel = TLPressureLevel::Normal;
        sample.cpuPercent = 12.4;
    }
    QString prefsPath() const { return dir.filePath(QStringLiteral("prefs.conf")); }
    QString agentPath() const { return dir.filePath(QStringLiteral("autostart/tide.desktop")); }

    TLAppEnvironment environment() {
        TLAppEnvironment env;
        env.preferences = prefs.get();
        env.statusItem = &statusItem;
        env.popover = &popover;
        env.monitor = &monitor;
        env.menus = &menus;
        env.procQueue = &queue;
        env.scheduler = &scheduler;
        env.alerts = &alerts;
        env.launcher = &launcher;
        env.panelServices = TLPanelServices{&alerts, nullptr, processes, &launcher};
        env.notifications = &notifications;
        env.makePressureWatch = [this](QString* whyNot) -> std::unique_ptr<TLPressureWatch> {
            ++watchesMade;
            if (watchRefusal) {
                if (whyNot) *whyNot = *watchRefusal;
                return nullptr;
            }
            auto made = std::make_unique<FakePressureWatch>();
            watch = made.get();
            return made;
        };
        env.makeKillWatch = [this](QString*) -> std::unique_ptr<TLKillWatch> {
            auto made = std::make_unique<FakeKillWatch>();
            killWatch = made.get();
            return made;
        };
        env.sampleSystem = [this] {
            ++systemSamples;
            return sample;
        };
        env.sampleProcesses = [this] {
            ++processSamples;
            return procs;
        };
        env.releaseProcesses = [this] { ++processReleases; };
        env.terminate = [this] { ++terminations; };
        env.exitNow = [this](int status) { exits.push_back(status); };
        env.now = [this] { return scheduler.clock; };
        env.systemAppearance = [this] { return systemAppearance; };
        env.trayAppearance = [this] { return trayAppearance; };
        env.agentPath = agentPath();
        env.executablePath = QStringLiteral("/opt/tide/bin/tide");
        env.info = info;
        env.snapshotDir = snapshotDir;
        env.autoOpen = autoOpen;
        return env;
    }

    // Creates the delegate and finishes launching. The real timer is stopped afterwards unless
    // asked to keep it, so that only the test's own calls tick.
    TLAppDelegate& launch(bool keepTimer = false) {
        app = std::make_unique<TLAppDelegate>(environment());
        app->applicationDidFinishLaunching();
        if (!keepTimer) const_cast<QTimer&>(app->timer()).stop();
        return *app;
    }
};
