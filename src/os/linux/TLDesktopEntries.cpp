#include "os/linux/TLDesktopEntries.h"

#include "os/posix/TLFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace {

// Up to `TLDesktopEntries::kMaxFileSize` bytes of the regular file at `path`; nullopt when it
// cannot be opened or is no regular file (a FIFO would block the sampling for good).
std::optional<std::string> readEntryFile(const std::string& path) {
    TLFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto size = static_cast<size_t>(st.st_size);
    std::string text(std::min(size, TLDesktopEntries::kMaxFileSize), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return text;
}

// The entries of a colon-separated list of directories that are absolute paths.
void appendDirs(std::vector<std::string>& dirs, std::string_view list) {
    while (!list.empty()) {
        const size_t colon = list.find(':');
        const std::string_view dir = list.substr(0, colon);
        list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
        if (dir.starts_with('/')) dirs.push_back(std::string(dir) + "/applications");
    }
}

} // namespace

std::vector<std::string> TLDesktopEntries::dirsFromEnvironment() {
    std::vector<std::string> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && dataHome[0] == '/')
        dirs.push_back(std::string(dataHome) + "/applications");
    else if (home && home[0] == '/')
        dirs.push_back(std::string(home) + "/.local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    appendDirs(dirs, dataDirs && dataDirs[0] ? dataDirs : "/usr/local/share:/usr/share");
    return dirs;
}

const TLDesktopEntry* TLDesktopEntries::find(const std::string& appId) {
    const auto known = _found.find(appId);
    if (known != _found.end()) return known->second ? &*known->second : nullptr;
    std::optional<TLDesktopEntry>& entry = _found[appId];
    if (appId.empty() || appId.find('/') != std::string::npos) return nullptr;
    // The first file there is decides, as it hides those of the directories after it.
    for (const std::string& dir : _dirs) {
        const std::optional<std::string> text = readEntryFile(dir + "/" + appId + ".desktop");
        if (!text) continue;
        TLDesktopEntry parsed;
        if (TLParseDesktopEntry(*text, parsed)) entry = std::move(parsed);
        break;
    }
    return entry ? &*entry : nullptr;
}

namespace {

std::string fallbackName(const std::string& id) {
    const size_t dot = id.rfind('.');
    const bool reverseDns = dot != std::string::npos && dot + 1 < id.size() && id.find('.') < dot;
    return reverseDns ? id.substr(dot + 1) : id;
}

} // namespace

bool TLAppOfUnit(std::string_view unit, TLDesktopEntries& entries, TLAppIdentity& out) {
    const std::string id = TLUnitAppId(unit);
    if (id.empty()) return false;
    const TLDesktopEntry* entry = entries.find(id);
    if (entry && entry->terminalEmulator) return false;
    out.key = "app:" + id;
    out.name = entry && !entry->name.empty() ? entry->name : fallbackName(id);
    out.icon = entry ? entry->icon : std::string();
    out.id = id;
    return true;
}
