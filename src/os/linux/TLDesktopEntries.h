#pragma once
#include "os/TLAppIdentity.h"
#include "os/linux/TLAppUnits.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The desktop entries of applications, found by application id as "<id>.desktop" in the first of
// a list of directories that has one, and read at most once each: what was found (or that
// nothing was) is kept for the next process of the same application.
class TLDesktopEntries {
public:
    explicit TLDesktopEntries(std::vector<std::string> dirs) : _dirs(std::move(dirs)) {}

    // The applications directories of the XDG base directories, in the order they are searched:
    // $XDG_DATA_HOME (~/.local/share when unset), then each of $XDG_DATA_DIRS (/usr/local/share
    // and /usr/share when unset), each with "/applications". Relative entries are left out.
    static std::vector<std::string> dirsFromEnvironment();

    // The entry of the application `appId` (an id as TLUnitAppId gives it: no slashes), or null
    // when there is none, or it cannot be read, or it has no [Desktop Entry] group. The pointer
    // stays valid as long as this object.
    const TLDesktopEntry* find(const std::string& appId);

    // The most of a file that is read; a longer one is read this far.
    static constexpr size_t kMaxFileSize = 64 * 1024;

private:
    std::vector<std::string> _dirs;
    std::unordered_map<std::string, std::optional<TLDesktopEntry>> _found;
};

// The application a unit was started for (see TLUnitAppId), named by its desktop entry in
// `entries` or, without one, by the last part of a reverse-DNS id ("org.gnome.TextEditor":
// "TextEditor"). False for a unit started for no application, and for a terminal emulator's
// (what runs in a terminal is not the terminal).
bool TLAppOfUnit(std::string_view unit, TLDesktopEntries& entries, TLAppIdentity& out);
