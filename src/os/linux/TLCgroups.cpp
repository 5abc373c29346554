#include "os/linux/TLCgroups.h"

#include <charconv>

using namespace std::string_view_literals;

namespace {

// The next line of `text`, taken off its front.
std::string_view nextLine(std::string_view& text) {
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    return line;
}

} // namespace

std::string_view TLUnifiedCgroupPath(std::string_view cgroupText) {
    while (!cgroupText.empty()) {
        const std::string_view line = nextLine(cgroupText);
        if (!line.starts_with("0::/"sv)) continue;
        std::string_view path = line.substr(3);
        while (path.size() > 1 && path.back() == '/')
            path.remove_suffix(1);
        return path;
    }
    return {};
}

std::string_view TLSessionCgroup(std::string_view path) {
    if (path.size() <= 1 || path.front() != '/') return {};
    // The user manager's unit, "user@UID.service", wherever it is in the path.
    for (size_t start = 1; start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part.starts_with("user@"sv) && part.ends_with(".service"sv)) return path.substr(0, end);
        start = end + 1;
    }
    return path.substr(0, path.find('/', 1));
}

std::string_view TLCgroupLeaf(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool TLParseOomKills(std::string_view memoryEvents, uint64_t& out) {
    while (!memoryEvents.empty()) {
        const std::string_view line = nextLine(memoryEvents);
        if (!line.starts_with("oom_kill "sv)) continue;
        std::string_view number = line.substr(9);
        while (!number.empty() && (number.back() == ' ' || number.back() == '\r'))
            number.remove_suffix(1);
        uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || end != number.data() + number.size() || number.empty())
            return false;
        out = value;
        return true;
    }
    return false;
}
