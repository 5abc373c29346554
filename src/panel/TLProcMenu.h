#pragma once
#include "platform/TLServices.h"
#include "sampling/TLProc.h"

#include <QMetaType>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>

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
