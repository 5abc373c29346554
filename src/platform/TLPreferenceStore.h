#pragma once
// Where the user's settings are kept on this system: an INI file at
// ${XDG_CONFIG_HOME:-~/.config}/dev.tide.monitor.conf on Linux; the user defaults domain
// dev.tide.monitor on macOS (read and written through the system's preferences service, never by
// writing its plist file behind that service's back, which caches the domain).

#include <QString>

struct TLPreferenceStore {
    // The file's path (for an INI file), or where the system keeps the domain (for messages).
    QString path;
    // The domain, as QSettings's native store names it; empty for an INI file.
    QString organization;
    QString application;
    bool native() const { return !organization.isEmpty(); }
};

TLPreferenceStore TLSystemPreferenceStore();
