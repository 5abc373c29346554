#include "os/TLAppBundle.h"

namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

} // namespace

std::string TLOutermostAppBundle(std::string_view exePath) {
    if (exePath.empty() || exePath.front() != '/') return {};
    // The first path component, from the root, that names a bundle; the executable's own name
    // (the last component) is a file, never the bundle around it.
    size_t start = 1;
    while (start < exePath.size()) {
        const size_t slash = exePath.find('/', start);
        if (slash == std::string_view::npos) break;
        const std::string_view component = exePath.substr(start, slash - start);
        if (component.size() > 4 && endsWith(component, ".app"))
            return std::string(exePath.substr(0, slash));
        start = slash + 1;
    }
    return {};
}

TLAppIdentity TLAppFromBundle(const std::string& bundlePath, const TLBundleInfo& info) {
    TLAppIdentity app;
    app.id = info.identifier;
    app.key = "app:" + (info.identifier.empty() ? bundlePath : info.identifier);
    app.name = !info.displayName.empty() ? info.displayName : info.name;
    if (app.name.empty()) {
        const size_t slash = bundlePath.rfind('/');
        app.name = bundlePath.substr(slash == std::string::npos ? 0 : slash + 1);
        if (endsWith(app.name, ".app")) app.name.resize(app.name.size() - 4);
    }
    if (!info.iconFile.empty() && info.iconFile.find('/') == std::string::npos) {
        app.icon = bundlePath + "/Contents/Resources/" + info.iconFile;
        if (!endsWith(app.icon, ".icns")) app.icon += ".icns";
    }
    return app;
}
