#include "platform/TLSystemMonitors.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct Monitor {
    const char* desktops; // XDG_CURRENT_DESKTOP names, separated by colons
    std::array<const char*, 2> executables;
    const char* name; // as the advice names it
    int adviceRank;   // the advice names the three lowest when the desktop is not known
};

// In the order they are tried when the desktop is not known: most common first.
constexpr Monitor kMonitors[] = {
    {"GNOME:Unity:Budgie:Pantheon", {"gnome-system-monitor", nullptr}, "GNOME 系统监视器", 0},
    {"KDE", {"plasma-systemmonitor", "ksysguard"}, "Plasma 系统监视器", 3},
    {"XFCE", {"xfce4-taskmanager", nullptr}, "Xfce 任务管理器", 1},
    {"MATE", {"mate-system-monitor", nullptr}, "MATE 系统监视器", 4},
    {"LXQt:LXDE", {"lxtask", "qps"}, "LXTask", 2},
    {"Deepin:DDE", {"deepin-system-monitor", nullptr}, "深度系统监视器", 5},
};

// The monitor of the first desktop in `desktops` that has one; null when none has.
const Monitor* runningDesktopMonitor(const QString& desktops) {
    for (const QString& desktop : desktops.split(u':', Qt::SkipEmptyParts)) {
        for (const Monitor& m : kMonitors) {
            const QStringList names = QString::fromLatin1(m.desktops).split(u':');
            if (names.contains(desktop.trimmed(), Qt::CaseInsensitive)) return &m;
        }
    }
    return nullptr;
}

// The running desktop's monitor first, then the others in their order.
std::vector<const Monitor*> ordered(const QString& desktops) {
    const Monitor* first = runningDesktopMonitor(desktops);
    std::vector<const Monitor*> out;
    if (first) out.push_back(first);
    for (const Monitor& m : kMonitors)
        if (&m != first) out.push_back(&m);
    return out;
}

} // namespace

QStringList TLSystemMonitorCandidates(const QString& desktops) {
    QStringList out;
    for (const Monitor* m : ordered(desktops))
        for (const char* executable : m->executables)
            if (executable) out << QString::fromLatin1(executable);
    return out;
}

QString TLNoSystemMonitorAdvice(const QString& desktops) {
    std::vector<const Monitor*> monitors = ordered(desktops);
    const bool known = runningDesktopMonitor(desktops) != nullptr;
    std::stable_sort(
        monitors.begin() + (known ? 1 : 0), monitors.end(),
        [](const Monitor* a, const Monitor* b) { return a->adviceRank < b->adviceRank; });
    // A Latin name is set off from the Chinese before it by a space; after "、" it needs none.
    const auto after = [](const char* name) {
        const QString text = QString::fromUtf8(name);
        return text.front().isLetter() && text.front().unicode() < 0x80 ? u' ' + text : text;
    };
    return QStringLiteral("请先安装一个系统监视器，例如%1、%2或%3。")
        .arg(after(monitors[0]->name), QString::fromUtf8(monitors[1]->name),
             after(monitors[2]->name));
}
