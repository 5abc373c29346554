#pragma once
// Checks of the parsers that name the application of a process (the unit of its cgroup, the
// application id of the unit, the desktop entry of the application): what their results must be,
// and ids that survive the round trip through a unit name. Shared, as parser_oracles.h, by the
// randomized test and the libFuzzer harness; each returns an empty string when the input passes.

#include "os/linux/TLAppUnits.h"
#include "parser_oracles.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace TLFuzz {

inline bool controlByte(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '\x7F';
}

// What TLUnitAppId may give: UTF-8 free of slashes and control characters.
inline bool plausibleAppId(std::string_view id) {
    if (id.empty() || !referenceUTF8(id)) return false;
    for (char c : id)
        if (c == '/' || controlByte(c)) return false;
    return true;
}

// The id as systemd escapes a unit name: every byte but letters, digits, ':', '_' and '.' (and a
// leading '.') as "\xNN".
inline std::string systemdEscape(std::string_view id) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < id.size(); ++i) {
        const auto c = static_cast<unsigned char>(id[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == ':' || c == '_' || (c == '.' && i > 0);
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// An id comes back from each form of unit name an application is started in; any other input
// gives nothing but a plausible id, and only from an application's unit.
inline std::string checkUnitAppId(std::string_view unit) {
    const std::string id = TLUnitAppId(unit);
    const auto where = [&] { return "TLUnitAppId(" + escape(unit) + "): "; };
    if (!id.empty()) {
        if (!plausibleAppId(id)) return where() + "gave " + escape(id);
        const bool named = unit.starts_with("app-") || unit.starts_with("snap.");
        if (!named || !(unit.ends_with(".scope") || unit.ends_with(".service")))
            return where() + "an id from a unit of no application";
    }
    if (!plausibleAppId(unit)) return {};
    const std::string escaped = systemdEscape(unit);
    for (const std::string& form :
         {"app-" + escaped + "-1a2b.scope", "app-gnome-" + escaped + "-42.scope",
          "app-" + escaped + ".service", "app-kde-" + escaped + "@autostart.service"})
        if (TLUnitAppId(form) != unit) return "TLUnitAppId(" + escape(form) + ") lost the id";
    return {};
}

// The unit is the last component of a path in the text, and goes through checkUnitAppId.
inline std::string checkCgroupUnit(std::string_view text) {
    const std::string_view unit = TLCgroupUnit(text);
    if (unit.empty()) return {};
    const auto where = [&] { return "TLCgroupUnit(" + escape(text) + "): "; };
    if (unit.data() <= text.data() || unit.data() + unit.size() > text.data() + text.size())
        return where() + "a unit outside the text";
    if (unit.data()[-1] != '/' || unit.find_first_of("/\n") != std::string_view::npos)
        return where() + "not a path's last component: " + escape(unit);
    return checkUnitAppId(unit);
}

// Names and icons are UTF-8 on one line, trimmed; only a text with a [Desktop Entry] line has them.
inline std::string checkDesktopEntry(std::string_view text) {
    TLDesktopEntry e;
    e.name = "stale";
    const bool ok = TLParseDesktopEntry(text, e);
    const auto where = [&] { return "TLParseDesktopEntry(" + escape(text) + "): "; };
    bool group = false;
    for (std::string_view rest = text; !rest.empty() && !group;) {
        std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.remove_suffix(1);
        group = line == "[Desktop Entry]";
    }
    if (ok != group) return where() + (ok ? "accepted" : "rejected");
    if (!ok && (!e.name.empty() || !e.icon.empty() || e.terminalEmulator))
        return where() + "figures without a group";
    for (const std::string& value : {e.name, e.icon}) {
        if (!referenceUTF8(value)) return where() + "not UTF-8: " + escape(value);
        for (char c : value)
            if (controlByte(c)) return where() + "a control character in " + escape(value);
        if (!value.empty() && (value.front() == ' ' || value.back() == ' '))
            return where() + "untrimmed " + escape(value);
    }
    return {};
}

// The three on one input, first fault first.
inline std::string checkApplicationParsers(std::string_view data) {
    for (std::string r : {checkCgroupUnit(data), checkUnitAppId(data), checkDesktopEntry(data)})
        if (!r.empty()) return r;
    return {};
}

} // namespace TLFuzz
