#include "app/TLCommandLine.h"
#include "app/TLLaunchAtLogin.h"
#include "platform/TLBuildConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TLCommandLine parse(QStringList args) {
    args.prepend(QStringLiteral("/some/where/tide"));
    return TLParseCommandLine(args);
}

QProcessEnvironment environment(std::initializer_list<std::pair<const char*, const char*>> vars) {
    QProcessEnvironment env;
    for (const auto& [name, value] : vars)
        env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return env;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

TEST(CommandLine, RunsWithoutOptionsAndTakesTheSnapshotDirectory) {
    TLCommandLine c = parse({});
    EXPECT_EQ(c.action, TLCommandLine::Action::Run);
    EXPECT_FALSE(c.snapshotDir.has_value());
    EXPECT_TRUE(c.output.isEmpty());

    c = parse({"--snapshot", "/tmp/pictures"});
    EXPECT_EQ(c.action, TLCommandLine::Action::Run);
    EXPECT_EQ(c.snapshotDir, QStringLiteral("/tmp/pictures"));
    // An empty value means the working directory, as TL_SNAPSHOT="" does: it is still set.
    c = parse({"--snapshot="});
    ASSERT_TRUE(c.snapshotDir.has_value());
    EXPECT_TRUE(c.snapshotDir->isEmpty());
    c = parse({"--snapshot=dir with spaces"});
    EXPECT_EQ(c.snapshotDir, QStringLiteral("dir with spaces"));
}

TEST(CommandLine, HelpAndVersionEndTheProgramWithStatusZero) {
    for (const char* option : {"--help", "-h", "-help"}) {
        const TLCommandLine c = parse({option});
        EXPECT_EQ(c.action, TLCommandLine::Action::Help) << option;
        EXPECT_EQ(TLCommandLineExitStatus(c.action), 0);
        // The usage names the program as typed, not the path it was started from.
        EXPECT_TRUE(c.output.startsWith("Usage: tide [options]\n")) << c.output.toStdString();
        for (const char* mentioned :
             {"--snapshot <DIR>", "--version", "--toggle", "--show", "TL_SNAPSHOT", "TL_AUTO_OPEN",
              "dev.tide.monitor.conf", "autostart"})
            EXPECT_TRUE(c.output.contains(mentioned)) << mentioned;
        EXPECT_FALSE(c.output.contains("/some/where"));
    }
    const TLCommandLine v = parse({"--version"});
    EXPECT_EQ(v.action, TLCommandLine::Action::Version);
    EXPECT_EQ(TLCommandLineExitStatus(v.action), 0);
    EXPECT_EQ(v.output, QStringLiteral("tide " TIDE_VERSION "\n"));
    // Help wins over anything else on the line, the way users expect.
    EXPECT_EQ(parse({"--snapshot", "x", "--help"}).action, TLCommandLine::Action::Help);
}

TEST(CommandLine, BadCommandLinesGiveTheUsageAndStatusTwo) {
    const QList<QStringList> bad = {{"--bogus"}, {"-x"},          {"--snapshot"},
                                    {"stray"},   {"--version=3"}, {"--help", "stray"}};
    for (const QStringList& args : bad) {
        const TLCommandLine c = parse(args);
        EXPECT_EQ(c.action, TLCommandLine::Action::Error) << args.join(' ').toStdString();
        EXPECT_EQ(TLCommandLineExitStatus(c.action), 2);
        EXPECT_TRUE(c.output.startsWith("tide: ")) << c.output.toStdString();
        EXPECT_TRUE(c.output.contains("\nUsage: tide [options]\n")) << c.output.toStdString();
    }
    EXPECT_TRUE(parse({"--bogus"}).output.contains("bogus"));
}

// --toggle and --show ask the running Tide for its panel; one request at a time, and none in a
// snapshot run, which leaves the running Tide alone.
TEST(CommandLine, ToggleAndShowAreRequestsForTheRunningTide) {
    using Request = TLCommandLine::PanelRequest;
    EXPECT_EQ(parse({}).panelRequest, Request::None);
    EXPECT_EQ(parse({"--snapshot", "d"}).panelRequest, Request::None);
    for (const auto& [option, request] :
         {std::pair{"--toggle", Request::Toggle}, std::pair{"--show", Request::Show},
          std::pair{"-toggle", Request::Toggle}}) {
        const TLCommandLine c = parse({option});
        EXPECT_EQ(c.action, TLCommandLine::Action::Run) << option;
        EXPECT_EQ(c.panelRequest, request) << option;
        EXPECT_FALSE(c.snapshotDir.has_value());
    }
    EXPECT_EQ(parse({"--toggle", "--toggle"}).panelRequest, Request::Toggle);

    const QList<QStringList> conflicts = {{"--toggle", "--show"},
                                          {"--show", "--toggle"},
                                          {"--toggle", "--snapshot", "d"},
                                          {"--snapshot=", "--show"},
                                          {"--show", "--toggle", "--snapshot", "d"}};
    for (const QStringList& args : conflicts) {
        const TLCommandLine c = parse(args);
        EXPECT_EQ(c.action, TLCommandLine::Action::Error) << args.join(' ').toStdString();
        EXPECT_EQ(TLCommandLineExitStatus(c.action), 2);
        EXPECT_TRUE(c.output.startsWith("tide: --")) << c.output.toStdString();
        EXPECT_TRUE(c.output.contains("cannot be used together")) << c.output.toStdString();
        EXPECT_TRUE(c.output.contains("\nUsage: tide [options]\n"));
    }
    EXPECT_TRUE(parse({"--show", "--toggle"}).output.startsWith("tide: --toggle and --show "));
    EXPECT_EQ(parse({"--toggle=1"}).action, TLCommandLine::Action::Error); // takes no value
    EXPECT_EQ(parse({"--toggle", "stray"}).action, TLCommandLine::Action::Error);
    // Help and version still win.
    EXPECT_EQ(parse({"--toggle", "--show", "--help"}).action, TLCommandLine::Action::Help);
    EXPECT_EQ(parse({"--show", "--version"}).action, TLCommandLine::Action::Version);
}

TEST(CommandLine, NoDisplayIsOneSentenceNamingTheWayOut) {
    int asked = 0;
    QString askedAbout;
    const auto reachable = [&](const QString& display) {
        ++asked;
        askedAbout = display;
        return display == ":0";
    };
    // Nothing at all: no display.
    QString m = TLNoDisplayMessage(environment({}), reachable);
    EXPECT_TRUE(m.startsWith("tide: no display")) << m.toStdString();
    EXPECT_TRUE(m.contains("tide --snapshot DIR"));
    EXPECT_EQ(m.count(u'\n'), 1);
    EXPECT_TRUE(m.endsWith(u'\n'));
    EXPECT_EQ(asked, 0);

    // An X11 display that answers, or one that does not.
    EXPECT_TRUE(TLNoDisplayMessage(environment({{"DISPLAY", ":0"}}), reachable).isEmpty());
    EXPECT_EQ(askedAbout, ":0");
    m = TLNoDisplayMessage(environment({{"DISPLAY", ":42"}}), reachable);
    EXPECT_TRUE(m.contains("\":42\"")) << m.toStdString();
    EXPECT_TRUE(m.contains("--snapshot"));

    // Qt asked for X11 by name, without a DISPLAY.
    m = TLNoDisplayMessage(environment({{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "w-0"}}),
                           reachable);
    EXPECT_TRUE(m.contains("DISPLAY is not set")) << m.toStdString();

    // Wayland, or a platform that needs no display, is Qt's to judge.
    asked = 0;
    EXPECT_TRUE(
        TLNoDisplayMessage(environment({{"WAYLAND_DISPLAY", "wayland-0"}}), reachable).isEmpty());
    EXPECT_TRUE(
        TLNoDisplayMessage(environment({{"QT_QPA_PLATFORM", "offscreen"}}), reachable).isEmpty());
    EXPECT_TRUE(TLNoDisplayMessage(environment({{"QT_QPA_PLATFORM", "wayland;xcb"},
                                                {"WAYLAND_DISPLAY", "wayland-0"}}),
                                   reachable)
                    .isEmpty());
    EXPECT_EQ(asked, 0);
}

TEST(LaunchAtLoginProgram, ReadsTheProgramBackFromEitherFormat) {
    for (const QString& path :
         {QStringLiteral("/usr/bin/tide"),
          QStringLiteral("/home/me/My Apps/潮汐 \"new\"/$HOME`x`/100%/a\\b")}) {
        EXPECT_EQ(TLAutostartProgram(TLAutostartEntry(path, QStringLiteral("潮汐"))), path);
        EXPECT_EQ(TLLaunchAgentProgram(TLLaunchAgentPlist(QStringLiteral("id"), path)), path);
    }
    // Hand-written entries: unquoted with arguments, spaces around '=', another group's Exec.
    EXPECT_EQ(TLAutostartProgram("[Desktop Entry]\nExec=/opt/tide/bin/tide --x\n"),
              "/opt/tide/bin/tide");
    EXPECT_EQ(TLAutostartProgram("[Desktop Entry]\nExec = /opt/t/tide\n"), "/opt/t/tide");
    EXPECT_EQ(TLAutostartProgram("[Desktop Action x]\nExec=/a\n[Desktop Entry]\nExec=tide\n"),
              "tide");
    EXPECT_EQ(TLAutostartProgram("[Desktop Entry]\nExecutable=/a\n"), "");
    EXPECT_EQ(TLAutostartProgram(""), "");
    EXPECT_EQ(TLAutostartProgram("[Desktop Entry]\nExec=\"/unterminated"), "/unterminated");
    EXPECT_EQ(
        TLLaunchAgentProgram("<plist><dict><key>Label</key><string>x</string></dict></plist>"), "");
    EXPECT_EQ(TLLaunchAgentProgram("not xml at all"), "");
}

TEST(LaunchAtLoginProgram, AFileNamingAVanishedProgramIsRewrittenOnStart) {
    QTemporaryDir home;
    const QString agent = home.path() + "/autostart/dev.tide.monitor.desktop";
    const QString self = home.path() + "/prefix/bin/tide";
    QDir().mkpath(home.path() + "/prefix/bin");
    writeFile(self, "#!/bin/sh\n");
    const QString name = QStringLiteral("潮汐");

    // No file: start at login is off and stays off.
    EXPECT_FALSE(TLRepairLaunchAtLogin(agent, self, name));
    EXPECT_FALSE(QFileInfo::exists(agent));

    // A file naming a deleted build folder's binary: pointed at the running program.
    QDir().mkpath(home.path() + "/autostart");
    writeFile(agent, TLAgentFileContent(home.path() + "/gone/build/tide", name));
    EXPECT_TRUE(TLRepairLaunchAtLogin(agent, self, name));
    EXPECT_EQ(readAll(agent), TLAgentFileContent(self, name));
    EXPECT_EQ(TLAgentFileProgram(readAll(agent)), self);
    // Done once: the file now names an existing program.
    EXPECT_FALSE(TLRepairLaunchAtLogin(agent, self, name));

    // Left alone: another existing program, a program found through PATH, an empty or foreign
    // file, and anything when the running program's path is unknown.
    const QString other = home.path() + "/other-tide";
    writeFile(other, "#!/bin/sh\n");
    for (const QByteArray& content :
         {TLAgentFileContent(other, name), QByteArray("[Desktop Entry]\nExec=tide\n"), QByteArray(),
          QByteArray("garbage\n")}) {
        writeFile(agent, content);
        EXPECT_FALSE(TLRepairLaunchAtLogin(agent, self, name)) << content.toStdString();
        EXPECT_EQ(readAll(agent), content);
    }
    writeFile(agent, TLAgentFileContent(home.path() + "/gone/tide", name));
    EXPECT_FALSE(TLRepairLaunchAtLogin(agent, QString(), name));

    // A huge file is not an entry of ours: not read, not touched.
    QByteArray huge = TLAgentFileContent(home.path() + "/gone/tide", name);
    huge.append(QByteArray(1 << 20, '#'));
    writeFile(agent, huge);
    EXPECT_FALSE(TLRepairLaunchAtLogin(agent, self, name));
    EXPECT_EQ(readAll(agent).size(), huge.size());
}
