#pragma once
// The Linux desktops' own system monitors: which programs to try for 打开活动监视器, and which to
// name when none is installed, the running desktop's first.

#include <QString>
#include <QStringList>

// The executables to try, in order: the monitor of the running desktop first, then every other
// desktop's, most common first. `desktops` is XDG_CURRENT_DESKTOP: names separated by colons
// ("KDE", "ubuntu:GNOME"), matched without regard to case; empty or unknown gives the common
// order.
QStringList TLSystemMonitorCandidates(const QString& desktops);

// The advice of the alert when no monitor could be opened, naming three monitors, the running
// desktop's first.
QString TLNoSystemMonitorAdvice(const QString& desktops);
