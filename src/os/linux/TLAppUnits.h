#pragma once
#include <string>
#include <string_view>

// The pure parsers behind TLProcfsProcessSource::application: which systemd unit a process runs
// in, which application that unit was started for, and what the application's desktop entry
// says about it.

// The unit of a process, from the text of /proc/PID/cgroup: the last component of the cgroup v2
// path ("0::/..."), or, where there is no such path or it is the root, of the path in systemd's
// own hierarchy ("N:name=systemd:/..."). Empty when neither names one.
std::string_view TLCgroupUnit(std::string_view cgroupText);

// The application id a unit was started for, by the desktop's conventions for applications:
// "app[-<launcher>]-<id>[@<random>].service" and "app[-<launcher>]-<id>-<random>.scope" (the id
// escaped as systemd escapes unit names, a dash as "\x2d"), and snap's
// "snap.<snap>.<app>-<uuid>.scope" or "snap.<snap>.<app>.service" ("<snap>_<app>", the name of
// its desktop entry). Empty for any other unit, and for an id that does not unescape to UTF-8
// free of slashes and control characters.
std::string TLUnitAppId(std::string_view unit);

// What a desktop entry says about its application: its name in `locale` where it has one (as
// "zh_CN", falling back to the language alone, "zh"), otherwise its plain name; its icon; and
// whether it is a terminal emulator.
struct TLDesktopEntry {
    std::string name; // UTF-8 on one line; may be empty
    std::string icon; // an icon name or an absolute path; may be empty
    bool terminalEmulator = false;
};

// Parses the [Desktop Entry] group of a desktop entry file; other groups, comments and lines
// that are not "key=value" are passed over. False when the text has no such group.
bool TLParseDesktopEntry(std::string_view text, TLDesktopEntry& out,
                         std::string_view locale = "zh_CN");
