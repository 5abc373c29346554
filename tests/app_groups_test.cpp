// Processes merged by application: from a fake /proc through the sampling engine, and in the
// panel's list, its menus and its commands.
#include "fake_proc_root.h"
#include "panel_fakes.h"

#include "format/TLFormat.h"
#include "os/linux/TLProcfsProcessSource.h"
#include "sampling/TLAppGroups.h"
#include "sampling/TLMetrics.h"
#include "widgets/TLProcRow.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <map>

namespace {

constexpr uint64_t MiB = 1ull << 20;

// A one-thread process `pid` of `kib` KiB anonymous memory, in the cgroup `unit` (a path under
// the user's manager, or "/"), running `exe`.
void addProcess(const std::filesystem::path& root, int pid, const std::string& unit,
                const std::string& exe, int kib = 1000) {
    const std::filesystem::path dir = root / std::to_string(pid);
    const std::string id = std::to_string(pid);
    writeFile(dir / "stat",
              id + " (p) S 1 1 1 0 -1 4194560 1 0 0 0 1 1 0 0 20 0 1 0 " + id + " 1 1");
    writeFile(dir / "status", "Name:\tp\nRssAnon:\t" + std::to_string(kib) +
                                  " kB\nThreads:\t1\nvoluntary_ctxt_switches:\t1\n");
    writeFile(dir / "cgroup",
              unit == "/"
                  ? "0::/\n"
                  : "0::/user.slice/user-1000.slice/user@1000.service/app.slice/" + unit + "\n");
    std::filesystem::create_symlink(exe, dir / "exe");
}

} // namespace

// A browser with 20 children in its scope, a terminal running a shell and a build of 8 compiler
// jobs, a Flatpak app, and processes outside any application's unit.
TEST(AppGroups, FromCgroupsAndExecutablesThroughTheEngine) {
    const FakeProcRoot fake("groups");
    const std::filesystem::path proc = fake.path / "proc", apps = fake.path / "applications";
    for (int pid = 100; pid <= 120; ++pid)
        addProcess(proc, pid, "app-gnome-firefox-9.scope", "/usr/lib/firefox/firefox", pid);
    const std::string terminal = "app-gnome-org.gnome.Ptyxis-4.scope";
    addProcess(proc, 200, terminal, "/usr/bin/ptyxis");
    addProcess(proc, 201, terminal, "/usr/bin/bash");
    for (int pid = 202; pid < 210; ++pid)
        addProcess(proc, pid, terminal, "/usr/libexec/gcc/cc1plus", 2000);
    addProcess(proc, 300, "app-flatpak-org.gnome.Nautilus-5.scope", "/app/bin/nautilus");
    addProcess(proc, 400, "/", "/usr/bin/python3");
    addProcess(proc, 401, "/", "/usr/bin/python3");
    writeFile(apps / "firefox.desktop", "[Desktop Entry]\nName=Firefox\nIcon=firefox\n");
    writeFile(apps / "org.gnome.Ptyxis.desktop",
              "[Desktop Entry]\nName=Ptyxis\nCategories=System;TerminalEmulator;\n");
    writeFile(apps / "org.gnome.Nautilus.desktop",
              "[Desktop Entry]\nName=Files\nName[zh_CN]=文件\n");

    auto source = std::make_unique<TLProcfsProcessSource>(proc.string());
    source->setDesktopEntryDirs({apps.string()});
    TLMetrics metrics(nullptr, std::move(source), nullptr);
    for (int round = 0; round < 2; ++round) { // the second from what the first found
        const std::vector<TLProc> procs = metrics.sampleProcesses();
        ASSERT_EQ(procs.size(), 34u);
        std::map<std::string, const TLAppGroup*> byName;
        const std::vector<TLAppGroup> groups = TLGroupByApp(procs);
        for (const TLAppGroup& g : groups)
            byName[g.total.name] = &g;
        ASSERT_EQ(byName.size(), 6u);
        ASSERT_EQ(groups.size(), 6u);
        const TLAppGroup& firefox = *byName.at("Firefox");
        EXPECT_EQ(firefox.members.size(), 21u);
        uint64_t sum = 0;
        for (const TLProc& p : firefox.members)
            sum += p.memory;
        EXPECT_EQ(firefox.total.memory, sum);
        EXPECT_EQ(firefox.total.pid, 120); // its largest process
        EXPECT_EQ(firefox.total.app->id, "firefox");
        // What runs in the terminal is not the terminal: each program is its own.
        EXPECT_EQ(byName.at("cc1plus")->members.size(), 8u);
        EXPECT_EQ(byName.at("cc1plus")->total.memory, 8 * 2000 * 1024u);
        EXPECT_EQ(byName.at("bash")->members.size(), 1u);
        EXPECT_EQ(byName.at("ptyxis")->members.size(), 1u);
        EXPECT_EQ(byName.at("文件")->total.app->key, "app:org.gnome.Nautilus");
        EXPECT_EQ(byName.at("python3")->members.size(), 2u);
        EXPECT_EQ(byName.at("python3")->total.app->key, "exe:/usr/bin/python3");
    }
}

namespace {

std::vector<TLProc> appSample() {
    auto firefox = std::make_shared<const TLAppIdentity>(
        TLAppIdentity{"app:firefox", "firefox", "Firefox", ""});
    auto session = std::make_shared<const TLAppIdentity>(
        TLAppIdentity{"exe:/usr/bin/gnome-shell", "", "gnome-shell", ""});
    std::vector<TLProc> procs(6);
    const struct {
        int32_t pid;
        const char* name;
        uint64_t memory;
        std::shared_ptr<const TLAppIdentity> app;
        bool approximate;
    } rows[] = {{10, "firefox", 300 * MiB, firefox, false},
                {11, "editor", 500 * MiB, nullptr, false},
                {12, "Web Content", 400 * MiB, firefox, false},
                {13, "Isolated Web Co", 100 * MiB, firefox, true},
                {14, "gnome-shell", 200 * MiB, session, false},
                {15, "gnome-shell", 10 * MiB, session, false}};
    for (size_t i = 0; i < procs.size(); ++i) {
        procs[i].pid = rows[i].pid;
        procs[i].name = rows[i].name;
        procs[i].memory = rows[i].memory;
        procs[i].app = rows[i].app;
        procs[i].approximate = rows[i].approximate;
        procs[i].startTime = 1000 + static_cast<uint64_t>(rows[i].pid);
    }
    return procs;
}

QStringList menuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("--") : a->text());
    return texts;
}

} // namespace

TEST(AppRows, MergedRowsTheirMenuAndEndingOnlyUnchangedMembers) {
    FakePanel f;
    f.panel.view();
    const std::vector<TLProc> procs = appSample();
    for (const TLProc& p : procs)
        f.processes.startTimes[p.pid] = p.startTime;
    f.panel.setGroupApps(true);
    f.panel.renderProcesses(&procs);

    QStringList shown;
    for (TLProcRow* row : f.panel.rows())
        if (!row->isHidden())
            shown << row->nameLabel()->text() + "|" + row->value() + "|" +
                         (row->isApproximate() ? "~" : "");
    EXPECT_EQ(shown, (QStringList{"Firefox ×3|" + TLFormatBytes(800 * MiB) + "|~",
                                  "editor|" + TLFormatBytes(500 * MiB) + "|",
                                  "gnome-shell ×2|" + TLFormatBytes(210 * MiB) + "|"}));

    // The application's menu: its commands, then its processes by memory.
    QMenu* menu = f.panel.rows()[0]->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menuTexts(menu), (QStringList{"Firefox  (3 个进程)", "--", "复制应用名", "结束应用…",
                                            "强制结束应用…", "--", "进程"}));
    QMenu* members = menu->actions()[6]->menu();
    ASSERT_NE(members, nullptr);
    EXPECT_EQ(menuTexts(members), (QStringList{"Web Content  (PID 12)", "firefox  (PID 10)",
                                               "Isolated Web Co  (PID 13)"}));
    EXPECT_EQ(menuTexts(members->actions()[0]->menu()),
              (QStringList{"复制进程名", "结束进程…", "强制结束进程…"}));

    // One member ended and its pid went to another process before the confirmation: the others
    // are signalled, and a member gone is not a failure.
    f.processes.startTimes[12] = 5;
    f.panel.killProc(menu->actions()[3]);
    ASSERT_EQ(f.alerts.shown.size(), 1u);
    EXPECT_EQ(f.alerts.shown[0].messageText, "确定要结束「Firefox」的 3 个进程吗？");
    EXPECT_EQ(f.alerts.shown[0].buttons, (QStringList{"结束应用", "取消"}));
    EXPECT_EQ(f.processes.signalsSent,
              (std::vector<std::pair<int32_t, int>>{{10, SIGTERM}, {13, SIGTERM}}));

    // Refused: one alert for all that could not be ended.
    f.processes.deliver = false;
    f.processes.signalsSent.clear();
    f.panel.killProc(menu->actions()[4]);
    ASSERT_EQ(f.alerts.shown.size(), 3u);
    EXPECT_EQ(f.processes.signalsSent,
              (std::vector<std::pair<int32_t, int>>{{10, SIGKILL}, {13, SIGKILL}}));
    EXPECT_EQ(f.alerts.shown[2].messageText, "无法结束「Firefox」的 2 个进程");

    // The desktop's own processes: the question says what ending them does, before anything.
    f.alerts.shown.clear();
    f.alerts.answers = {TLAlertFirstButtonReturn + 1};
    f.panel.killProc(f.panel.rows()[2]->menu()->actions()[3]);
    ASSERT_EQ(f.alerts.shown.size(), 1u);
    EXPECT_TRUE(f.alerts.shown[0].informativeText.startsWith(
        "其中的「gnome-shell」是桌面会话本身的一部分，结束它会结束或破坏整个会话"))
        << f.alerts.shown[0].informativeText.toStdString();
    QMenu* shell = f.panel.menuForProc(procs[4]);
    f.alerts.answers = {TLAlertFirstButtonReturn + 1};
    f.panel.killProc(shell->actions()[3]);
    EXPECT_TRUE(f.alerts.shown[1].informativeText.startsWith("「gnome-shell」是桌面会话本身"));
    delete shell;

    // Unmerged, the processes as they are.
    f.panel.setGroupApps(false);
    QStringList names;
    for (TLProcRow* row : f.panel.rows())
        if (!row->isHidden()) names << row->nameLabel()->text();
    EXPECT_EQ(names, (QStringList{"editor", "Web Content", "firefox", "gnome-shell",
                                  "Isolated Web Co", "gnome-shell"}));
}

// A live application of five processes beside another program of the same name: ending the
// application ends exactly its five.
TEST(AppRows, EndingALiveApplicationEndsExactlyItsProcesses) {
    const FakeProcRoot dir("live");
    for (const char* sub : {"app", "other"}) {
        std::filesystem::create_directories(dir.path / sub);
        std::filesystem::copy_file("/bin/sleep", dir.path / sub / "worker");
    }
    auto start = [](const std::filesystem::path& exe) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(exe.c_str(), "worker", "600", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    };
    std::vector<pid_t> members;
    for (int i = 0; i < 5; ++i)
        members.push_back(start(dir.path / "app" / "worker"));
    const pid_t other = start(dir.path / "other" / "worker");
    // Whatever an assertion leaves running ends with the test.
    struct Reaper {
        std::vector<pid_t> pids;
        ~Reaper() {
            for (const pid_t pid : pids)
                if (::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
        }
    } reaper{members};
    reaper.pids.push_back(other);
    ::usleep(200 * 1000); // until each has run its executable

    TLMetrics metrics(nullptr, std::make_unique<TLProcfsProcessSource>(), nullptr);
    std::vector<TLProc> ours;
    for (const TLProc& p : metrics.sampleProcesses())
        if (p.name == "worker") ours.push_back(p);
    ASSERT_EQ(ours.size(), 6u);

    FakeAlerts alerts;
    FakeClipboard clipboard;
    FakeLauncher launcher;
    TLPanelController panel(
        TLPanelServices{&alerts, &clipboard, &TLSystemProcessControl(), &launcher});
    panel.view();
    panel.setGroupApps(true);
    panel.renderProcesses(&ours);
    TLProcRow* row = nullptr;
    for (TLProcRow* r : panel.rows())
        if (!r->isHidden() && r->memberCount() == 5) row = r;
    ASSERT_NE(row, nullptr);
    panel.killProc(row->menu()->actions()[3]);
    ASSERT_EQ(alerts.shown.size(), 1u); // the question, and no failure
    for (const pid_t pid : members) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << pid;
    }
    reaper.pids = {other}; // the others are reaped: their pids may be anyone's now
    EXPECT_EQ(::waitpid(other, nullptr, WNOHANG), 0); // still running
}
