#pragma once
#include <QByteArray>
#include <QString>

// Start at login is one file: an XDG autostart entry on Linux
// (${XDG_CONFIG_HOME:-~/.config}/autostart/dev.tide.monitor.desktop), a launch agent on macOS
// (~/Library/LaunchAgents/dev.tide.monitor.plist). It is on exactly when a file exists there.

// The file's path on this platform.
QString TLAgentPath();

// The XDG desktop entry that starts `executable` at login. The path is quoted and escaped as the
// desktop-entry format requires, so any path (spaces, quotes, dollars, backslashes, percent
// signs) starts the right program.
QByteArray TLAutostartEntry(const QString& executable, const QString& displayName);

// The launch-agent property list (XML, version 1.0): Label, ProgramArguments (the executable),
// RunAtLoad true, KeepAlive false.
QByteArray TLLaunchAgentPlist(const QString& label, const QString& executable);

// The file's content for this platform.
QByteArray TLAgentFileContent(const QString& executable, const QString& displayName);

bool TLLaunchAtLoginEnabled(const QString& agentPath);

// Removes the file when it exists; otherwise writes it (creating its directory), atomically, so
// that a crash mid-write never leaves half a file. An empty executable path writes nothing.
void TLToggleLaunchAtLogin(const QString& agentPath, const QString& executable,
                           const QString& displayName);

// The program a start-at-login file starts: the first argument of the Exec line of an autostart
// entry, or the first ProgramArguments string of a launch agent, unquoted and unescaped. Empty
// when the content names none.
QString TLAutostartProgram(const QByteArray& entry);
QString TLLaunchAgentProgram(const QByteArray& plist);
QString TLAgentFileProgram(const QByteArray& content);

// Run at start: when the start-at-login file names a program by an absolute path that no longer
// exists (a moved or deleted build folder, an uninstalled copy), writes the file again for
// `executable`, so that start at login keeps working. Leaves alone a missing file, one that names
// an existing program or no absolute path, and one larger than an entry can be. Returns whether
// it rewrote the file.
bool TLRepairLaunchAtLogin(const QString& agentPath, const QString& executable,
                           const QString& displayName);
