#pragma once
// Where start at login lives on this system, and in which format: an XDG autostart entry under
// ${XDG_CONFIG_HOME:-~/.config}/autostart on Linux, a launch agent under ~/Library/LaunchAgents
// on macOS. Start at login is on exactly when a file exists there.

#include <QString>

enum class TLLoginItemFormat { AutostartEntry, LaunchAgent };

struct TLLoginItemPlace {
    QString path;
    TLLoginItemFormat format = TLLoginItemFormat::AutostartEntry;
};

TLLoginItemPlace TLSystemLoginItem();
