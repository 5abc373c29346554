#pragma once
#include "sampling/TLProc.h"

#include <string>
#include <string_view>
#include <vector>

// An application of a process sample, with its processes.
struct TLAppGroup {
    // The application as one process would be: its name, the sums of its members' memory, CPU
    // and energy (energy that is not a number left out), approximate when any member is; the pid
    // and start time of its largest member. A group of one is that process (named as the
    // application where the desktop names one).
    TLProc total;
    std::vector<TLProc> members; // in the order of the sample
};

// The key of a process's application: its identity's, or "name:NAME" without one.
std::string TLAppKeyOf(const TLProc& proc);

// The processes of a sample by application, in the order each application first appears:
// processes with the same application key are one; a process with no application (a record from
// ps) is one of its own name.
std::vector<TLAppGroup> TLGroupByApp(const std::vector<TLProc>& procs);

// The totals of `groups`, in their order: one record per application, to rank as processes are.
std::vector<TLProc> TLAppTotals(const std::vector<TLAppGroup>& groups);

// Whether a process of this name is a part of the desktop session itself (its shell or window
// manager, the display server, the user's service manager, the session bus, the sound server):
// ending it ends the session, or breaks it.
bool TLIsSessionProcess(std::string_view name);
