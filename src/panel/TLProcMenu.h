#pragma once
#include "platform/TLServices.h"
#include "sampling/TLProc.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <vector>

class QMenu;
class QObject;

// What an end-process item of a process menu carries: the process as it was when the menu was
// built (its pid and its start time, which together tell it from a later process with the same
// pid), its name and the signal. The item's data holds one.
struct TLProcTarget {
    int32_t pid = 0;
    QString name;
    TLEndSignal signal = TLEndSignal::Terminate;
    uint64_t startTime = 0; // 0: could not be read when the menu was built

    bool operator==(const TLProcTarget&) const = default;
};
Q_DECLARE_METATYPE(TLProcTarget)
// Reads an item's data; anything but a target reads as the empty target (pid 0: nothing is sent).
TLProcTarget TLProcTargetFrom(const QVariant& data);

// What an end-application item carries: the application's name, its processes as they were when
// the menu was built (each with its pid, name and start time) and the signal for all of them.
struct TLAppTarget {
    QString name;
    QList<TLProcTarget> members;
    TLEndSignal signal = TLEndSignal::Terminate;

    bool operator==(const TLAppTarget&) const = default;
};
Q_DECLARE_METATYPE(TLAppTarget)
TLAppTarget TLAppTargetFrom(const QVariant& data);
// The application `name` of these processes, each with its pid, name and start time.
TLAppTarget TLAppTargetFor(const QString& name, const std::vector<TLProc>& members,
                           TLEndSignal signal);

// A new context menu for a process row: heading "NAME  (PID N)" (disabled), a separator,
// "复制进程名" carrying the name, then "结束进程…" and "强制结束进程…" carrying a TLProcTarget
// with `startTime` and the signal to end it with. The caller owns it.
//
// An item runs `copy` or `kill` with its data from the event loop, after the menu has closed,
// and only while `context` lives: a command that shows an alert lets the panel re-render
// meanwhile, which replaces (and deletes) this menu.
QMenu* TLMakeProcMenu(const TLProc& proc, uint64_t startTime, QObject* context,
                      const std::function<void(const QVariant&)>& copy,
                      const std::function<void(const QVariant&)>& kill);

// A new context menu for an application row (a group of more than one process): heading
// "NAME  (N 个进程)" (disabled), a separator, "复制应用名", "结束应用…" and "强制结束应用…"
// carrying a TLAppTarget, a separator and "进程", a submenu of its processes in the order given
// (at most 12), each a submenu with that process's own three commands. Each member carries the
// start time its commands check. The caller owns it; the items run as above.
QMenu* TLMakeAppMenu(const QString& name, const std::vector<TLProc>& members, QObject* context,
                     const std::function<void(const QVariant&)>& copy,
                     const std::function<void(const QVariant&)>& kill);
