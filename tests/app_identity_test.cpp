#include "os/linux/TLAppUnits.h"
#include "os/linux/TLDesktopEntries.h"
#include "os/linux/TLProcfsProcessSource.h"

#include <gtest/gtest.h>

#include "fake_proc_root.h"

#include <string>
#include <vector>

using namespace std::string_literals;

TEST(AppUnits, ApplicationIdOfUnitName) {
    const struct {
        std::string unit, id;
    } cases[] = {
        {"app-gnome-org.gnome.Nautilus-2345.scope", "org.gnome.Nautilus"},
        {"app-gnome-firefox-4321.scope", "firefox"},
        {"app-org.kde.dolphin@a1b2c3.service", "org.kde.dolphin"},
        {"app-dolphin-a1b2c3.scope", "dolphin"},
        {"app-org.gnome.Evolution\\x2dalarm\\x2dnotify@autostart.service",
         "org.gnome.Evolution-alarm-notify"},
        {"app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify-2412.scope",
         "org.gnome.Evolution-alarm-notify"},
        {"app-kde-x\\x2Dy.service", "x-y"}, // a launcher and no random part
        {"app-kde-x\\X2Dy.service", ""},    // "\X" is no escape
        {"app-gnome-\\xe6\\xbd\\xae-1.scope", "潮"},
        {"app-flatpak-org.mozilla.firefox-98765.scope", "org.mozilla.firefox"},
        {"app-flatpak-com.valvesoftware.Steam-1234.scope", "com.valvesoftware.Steam"},
        {"snap.firefox.firefox-0f9c5e3a-5d1e-4b58-9a7e-1c2d3e4f5a6b.scope", "firefox_firefox"},
        {"snap.my-tool.do-it-0f9c5e3a-5d1e-4b58-9a7e-1c2d3e4f5a6b.scope", "my-tool_do-it"},
        {"snap.spotify.spotify-1234.scope", "spotify_spotify"},
        {"snap.lxd.daemon.service", "lxd_daemon"},
        {"snap.lxd.hook.configure-0f9c5e3a-5d1e-4b58-9a7e-1c2d3e4f5a6b.scope", ""},
        {"snap.firefox.scope", ""},
        // Units of no application.
        {"session-2.scope", ""},
        {"user@1000.service", ""},
        {"init.scope", ""},
        {"dbus.service", ""},
        {"dbus-:1.2-org.gnome.OnlineAccounts@0.service", ""},
        {"systemd-journald.service", ""},
        {"app.slice", ""},
        {"app-gnome-org.gnome.Nautilus-2345.slice", ""},
        {"app-gnome.scope", ""},              // only the random part
        {"app-a-b-c-1.scope", ""},            // one dash too many
        {"app--x-1.scope", ""},               // an empty launcher
        {"app-gnome-x-.scope", ""},           // an empty random part
        {"app-gnome-\\x2-1.scope", ""},       // escapes of two hex digits only
        {"app-gnome-a\\x-1.scope", ""},       // cut short
        {"app-gnome-a\\zz00-1.scope", ""},    // no escape at all
        {"app-gnome-a\\x2fb-1.scope", ""},    // a slash
        {"app-gnome-a\\x0ab-1.scope", ""},    // a control character
        {"app-gnome-\\xff\\xfe-1.scope", ""}, // not UTF-8
        {"app-gnome-\\x2d-1.scope", "-"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TLUnitAppId(c.unit), c.id) << c.unit;
}

TEST(AppUnits, UnitOfCgroupText) {
    const struct {
        std::string text, unit;
    } cases[] = {
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-firefox-4321.scope\n",
         "app-gnome-firefox-4321.scope"},
        {"0::/system.slice/dbus.service", "dbus.service"}, // no line break at the end
        {"0::/user.slice/x/app-y-1.scope/\n", "app-y-1.scope"},
        // Hybrid hosts: the unified hierarchy holds nothing, systemd's own hierarchy tells.
        {"12:pids:/user.slice\n1:name=systemd:/user.slice/user-1000.slice/session-3.scope\n0::/\n",
         "session-3.scope"},
        {"0::/\n1:name=systemd:/user.slice/app-org.kde.dolphin@a1.service\n",
         "app-org.kde.dolphin@a1.service"},
        {"11:memory:/user.slice\n1:name=systemd:/a/b.scope\n", "b.scope"},
        {"0::/a.scope\n1:name=systemd:/b.scope\n", "a.scope"},
        {"0::/a:b.scope\n", "a:b.scope"},
        // v1 alone without systemd's hierarchy, the root, garbage.
        {"12:pids:/user.slice/u.service\n4:memory:/x.scope\n", ""},
        {"0::/\n", ""},
        {"0::relative/x.scope\n", ""},
        {"garbage\n::\n0:\n\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TLCgroupUnit(c.text), c.unit) << c.text;
}

TEST(AppUnits, DesktopEntryParsing) {
    const struct {
        std::string text;
        bool ok;
        std::string name, icon;
        bool terminal;
    } cases[] = {
        {"[Desktop Entry]\nName=Files\nName[zh_CN]=文件\nName[zh]=档案\nIcon=org.gnome.Nautilus\n",
         true, "文件", "org.gnome.Nautilus", false},
        {"[Desktop Entry]\nName[zh]=档案\nName=Files\n", true, "档案", "", false},
        {"[Desktop Entry]\r\n# comment\r\n\r\nName = Terminal \r\nCategories=System;"
         "TerminalEmulator;\r\n",
         true, "Terminal", "", true},
        {"[Desktop Entry]\nName[de]=Dateien\nName=A\\sb\\nc\\\\d\\q\n", true, "A b c\\d\\q", "",
         false},
        // Other groups, invalid names, garbage around the group.
        {"garbage\n[Desktop Action new]\nName=New\nIcon=n\n[Desktop Entry]\nName=Ok\nnot a "
         "line\n=\nCategories=TerminalEmulatorish;\n[X]\nName=Later\nIcon=later\n",
         true, "Ok", "", false},
        {"[Desktop Entry]\nName[zh_CN]=\xff\nName=\nName=Second\n", true, "Second", "", false},
        {"[Desktop Entry]\n", true, "", "", false},
        {"Name=No group\n[Other]\nName=x\n", false, "", "", false},
        {"", false, "", "", false},
    };
    for (const auto& c : cases) {
        TLDesktopEntry e;
        EXPECT_EQ(TLParseDesktopEntry(c.text, e), c.ok) << c.text;
        EXPECT_EQ(e.name, c.name) << c.text;
        EXPECT_EQ(e.icon, c.icon) << c.text;
        EXPECT_EQ(e.terminalEmulator, c.terminal) << c.text;
    }
}

// A fake /proc with one process per unit, and two private applications directories.
TEST(ProcfsApplication, FromCgroupThroughDesktopEntry) {
    const FakeProcRoot fake("apps");
    const std::filesystem::path proc = fake.path / "proc", home = fake.path / "home",
                                shared = fake.path / "share";
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    writeFile(proc / "10/cgroup", user + "app-gnome-org.gnome.Nautilus-2345.scope\n");
    writeFile(proc / "11/cgroup", user + "app-gnome-org.gnome.TextEditor-77.scope\n");
    writeFile(proc / "12/cgroup", user + "app-org.gnome.Ptyxis@1.service\n");
    writeFile(proc / "13/cgroup", "0::/user.slice/user-1000.slice/session-2.scope\n");
    writeFile(proc / "14/cgroup", user + "app-gnome-firefox-9.scope\n");
    writeFile(proc / "15/cgroup", user + "app-flatpak-org.gnome.Nautilus-5.scope\n");
    writeFile(home / "org.gnome.Nautilus.desktop",
              "[Desktop Entry]\nName=Files\nName[zh_CN]=文件\nIcon=org.gnome.Nautilus\n");
    writeFile(shared / "org.gnome.Nautilus.desktop", "[Desktop Entry]\nName=Hidden\n");
    writeFile(shared / "org.gnome.Ptyxis.desktop",
              "[Desktop Entry]\nName=Ptyxis\nCategories=GTK;System;TerminalEmulator;\n");
    writeFile(shared / "firefox.desktop", "[Desktop Entry]\nIcon=firefox\n");

    TLProcfsProcessSource source(proc.string());
    source.setDesktopEntryDirs({home.string(), (fake.path / "missing").string(), shared.string()});
    const struct {
        int32_t pid;
        bool ok;
        std::string key, name, icon;
    } cases[] = {
        {10, true, "app:org.gnome.Nautilus", "文件", "org.gnome.Nautilus"},
        {11, true, "app:org.gnome.TextEditor", "TextEditor", ""}, // no entry
        {12, false, "", "", ""},                                  // a terminal
        {13, false, "", "", ""},
        {14, true, "app:firefox", "firefox", "firefox"}, // an entry without a name
        {15, true, "app:org.gnome.Nautilus", "文件", "org.gnome.Nautilus"},
        {99, false, "", "", ""}, // no such process
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            TLAppIdentity app;
            EXPECT_EQ(source.application(c.pid, "/usr/bin/x", app), c.ok) << c.pid;
            EXPECT_EQ(app.key, c.key) << c.pid;
            EXPECT_EQ(app.id, c.ok ? c.key.substr(4) : "") << c.pid;
            EXPECT_EQ(app.name, c.name) << c.pid;
            EXPECT_EQ(app.icon, c.icon) << c.pid;
        }
        // Each entry is read once: what the files say now is not read again.
        std::filesystem::remove_all(home);
        writeFile(shared / "org.gnome.TextEditor.desktop", "[Desktop Entry]\nName=Later\n");
    }
}
