#include "sampling/TLAppGroups.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <unordered_map>

std::string TLAppKeyOf(const TLProc& proc) {
    return proc.app ? proc.app->key : "name:" + proc.name;
}

std::vector<TLAppGroup> TLGroupByApp(const std::vector<TLProc>& procs) {
    std::vector<TLAppGroup> groups;
    std::unordered_map<std::string, size_t> byKey;
    byKey.reserve(procs.size());
    for (const TLProc& proc : procs) {
        const auto [it, added] = byKey.try_emplace(TLAppKeyOf(proc), groups.size());
        if (added) groups.emplace_back();
        groups[it->second].members.push_back(proc);
    }
    for (TLAppGroup& group : groups) {
        TLProc& total = group.total;
        const auto largest =
            std::max_element(group.members.begin(), group.members.end(),
                             [](const TLProc& a, const TLProc& b) { return a.memory < b.memory; });
        total = *largest;
        if (total.app && !total.app->id.empty()) total.name = total.app->name;
        if (group.members.size() == 1) continue;
        total.memory = 0;
        total.cpu = 0;
        total.energy = 0;
        total.approximate = false;
        for (const TLProc& member : group.members) {
            total.memory += member.memory;
            total.cpu += member.cpu;
            if (!std::isnan(member.energy)) total.energy += member.energy;
            total.approximate |= member.approximate;
        }
    }
    return groups;
}

std::vector<TLProc> TLAppTotals(const std::vector<TLAppGroup>& groups) {
    std::vector<TLProc> totals;
    totals.reserve(groups.size());
    for (const TLAppGroup& group : groups)
        totals.push_back(group.total);
    return totals;
}

bool TLIsSessionProcess(std::string_view name) {
    static constexpr std::array<std::string_view, 24> session = {"gnome-shell",
                                                                 "gnome-session-binary",
                                                                 "plasmashell",
                                                                 "kwin_x11",
                                                                 "kwin_wayland",
                                                                 "ksmserver",
                                                                 "Xorg",
                                                                 "Xwayland",
                                                                 "X",
                                                                 "systemd",
                                                                 "dbus-daemon",
                                                                 "dbus-broker",
                                                                 "pipewire",
                                                                 "wireplumber",
                                                                 "pipewire-pulse",
                                                                 "pulseaudio",
                                                                 "sway",
                                                                 "xfce4-session",
                                                                 "xfwm4",
                                                                 "lxqt-session",
                                                                 "cinnamon",
                                                                 "mutter",
                                                                 "WindowServer",
                                                                 "loginwindow"};
    return std::find(session.begin(), session.end(), name) != session.end();
}
