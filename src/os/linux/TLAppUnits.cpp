#include "os/linux/TLAppUnits.h"

#include <cstdint>
#include <utility>

namespace {

using namespace std::string_view_literals;

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool validUTF8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = 1;
        unsigned char lo = 0x80, hi = 0xBF; // the range of the second byte
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (s.size() - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An application id as systemd escapes it in a unit name: every "\xNN" is the byte NN, and any
// other backslash makes the name no application's. Empty unless the id comes out as UTF-8 free
// of slashes and control characters (it names a file in the next step).
std::string unescapeId(std::string_view field) {
    std::string id;
    id.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            id += field[i];
            continue;
        }
        if (field.size() - i < 4 || field[i + 1] != 'x') return {};
        const int high = hexDigit(field[i + 2]), low = hexDigit(field[i + 3]);
        if (high < 0 || low < 0) return {};
        id += static_cast<char>(high * 16 + low);
        i += 3;
    }
    for (char c : id)
        if (c == '/' || isControl(c)) return {};
    if (!validUTF8(id)) return {};
    return id;
}

// "[<launcher>-]<id>[@<random>]" of a service or "[<launcher>-]<id>-<random>" of a scope, after
// the "app-" of its name.
std::string appUnitId(std::string_view rest, bool scope) {
    if (scope) {
        const size_t dash = rest.rfind('-');
        if (dash == std::string_view::npos || dash + 1 == rest.size()) return {};
        rest = rest.substr(0, dash);
    } else {
        rest = rest.substr(0, rest.find('@'));
    }
    // Dashes inside the id are escaped: a dash left separates the launcher from the id.
    if (const size_t dash = rest.find('-'); dash != std::string_view::npos) {
        if (dash == 0) return {};
        rest = rest.substr(dash + 1);
        if (rest.find('-') != std::string_view::npos) return {};
    }
    return rest.empty() ? std::string() : unescapeId(rest);
}

// A UUID as snapd writes it: 8-4-4-4-12 hex digits.
bool isUuid(std::string_view s) {
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != '-' : hexDigit(s[i]) < 0) return false;
    }
    return true;
}

// "<snap>.<app>-<uuid>" of a scope or "<snap>.<app>" of a service, after the "snap." of its
// name. A snap's hooks ("<snap>.hook.<hook>-<uuid>") are no application.
std::string snapUnitId(std::string_view rest, bool scope) {
    const size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos) return {};
    const std::string_view snap = rest.substr(0, dot);
    std::string_view app = rest.substr(dot + 1);
    if (scope) {
        // Application names may hold dashes: the random part is the UUID when there is one.
        if (app.size() > 37 && app[app.size() - 37] == '-' && isUuid(app.substr(app.size() - 36))) {
            app.remove_suffix(37);
        } else {
            const size_t dash = app.rfind('-');
            if (dash == std::string_view::npos) return {};
            app = app.substr(0, dash);
        }
    }
    if (app.empty() || app.find('.') != std::string_view::npos) return {};
    std::string id(snap);
    id += '_';
    id += app;
    return unescapeId(id);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A desktop entry's string value with its escapes ("\s", "\n", "\t", "\r", "\\") undone, on one
// line (line breaks and other control characters become spaces). Empty when it is not UTF-8.
std::string entryValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const char e = value[++i];
            c = e == 's' || e == 'n' || e == 't' || e == 'r' ? ' ' : e;
            if (e != 's' && e != 'n' && e != 't' && e != 'r' && e != '\\') out += '\\';
        }
        out += isControl(c) ? ' ' : c;
    }
    if (!validUTF8(out)) return {};
    const std::string_view kept = trim(out);
    return std::string(kept);
}

bool listHas(std::string_view list, std::string_view item) {
    while (!list.empty()) {
        const size_t semi = list.find(';');
        if (trim(list.substr(0, semi)) == item) return true;
        list.remove_prefix(semi == std::string_view::npos ? list.size() : semi + 1);
    }
    return false;
}

} // namespace

std::string_view TLCgroupUnit(std::string_view cgroupText) {
    std::string_view unified, systemd;
    while (!cgroupText.empty()) {
        const size_t nl = cgroupText.find('\n');
        std::string_view line = cgroupText.substr(0, nl);
        cgroupText.remove_prefix(nl == std::string_view::npos ? cgroupText.size() : nl + 1);
        // "hierarchy:controllers:path"; the path may itself hold colons.
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view hierarchy = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string_view path = line.substr(second + 1);
        while (path.size() > 1 && path.back() == '/')
            path.remove_suffix(1);
        if (path.empty() || path.front() != '/') continue;
        if (hierarchy == "0"sv && controllers.empty() && unified.empty())
            unified = path;
        else if (controllers == "name=systemd"sv && systemd.empty())
            systemd = path;
    }
    const std::string_view path = unified.size() > 1 ? unified : systemd;
    if (path.size() <= 1) return {};
    return path.substr(path.rfind('/') + 1);
}

std::string TLUnitAppId(std::string_view unit) {
    const bool scope = unit.ends_with(".scope"sv);
    if (!scope && !unit.ends_with(".service"sv)) return {};
    unit.remove_suffix(scope ? 6 : 8);
    if (unit.starts_with("app-"sv)) return appUnitId(unit.substr(4), scope);
    if (unit.starts_with("snap."sv)) return snapUnitId(unit.substr(5), scope);
    return {};
}

bool TLParseDesktopEntry(std::string_view text, TLDesktopEntry& out, std::string_view locale) {
    out = {};
    // "lang_COUNTRY.ENCODING@MODIFIER": the encoding plays no part in the keys.
    locale = locale.substr(0, locale.find('.'));
    const std::string_view language = locale.substr(0, locale.find_first_of("_@"));
    int nameRank = 3; // of the name taken: 0 for the locale, 1 for its language, 2 plain
    bool inGroup = false, seen = false;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            if (seen) break; // the group is over
            inGroup = seen = line == "[Desktop Entry]"sv;
            continue;
        }
        const size_t eq = line.find('=');
        if (!inGroup || eq == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        int rank = 3;
        if (key == "Name"sv) {
            rank = 2;
        } else if (key.starts_with("Name["sv) && key.ends_with(']') && !locale.empty()) {
            const std::string_view tag = key.substr(5, key.size() - 6);
            rank = tag == locale ? 0 : tag == language ? 1 : 3;
        }
        if (rank < nameRank) {
            if (std::string name = entryValue(value); !name.empty()) {
                out.name = std::move(name);
                nameRank = rank;
            }
        } else if (key == "Icon"sv && out.icon.empty()) {
            out.icon = entryValue(value);
        } else if (key == "Categories"sv) {
            out.terminalEmulator = out.terminalEmulator || listHas(value, "TerminalEmulator"sv);
        }
    }
    return seen;
}
