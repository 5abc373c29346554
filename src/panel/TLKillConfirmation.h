#pragma once
#include "panel/TLProcMenu.h"
#include "platform/TLServices.h"

// "结束进程…" / "强制结束进程…": asks through `alerts` whether to end `target` (a warning that
// names it and says what its signal does); on the first button, sends the signal through
// `processes` and, unless it was delivered, says why it could not be.
//
// Only the process the menu was built for is signalled: never a pid of 0 or below (a process
// group, or every process), and never a process that took over the pid since then. Without
// `processes` the signal counts as refused.
void TLConfirmAndSignal(TLAlertPresenter& alerts, TLProcessControl* processes,
                        const TLProcTarget& target);

// "结束应用…" / "强制结束应用…": asks whether to end the application's processes (naming it and
// how many), then signals each member that is still the process it was; one alert tells of the
// members that could not be ended. Where a member (or, above, the process) is a part of the
// desktop session, the question says first what ending it does to the session.
void TLConfirmAndSignalApp(TLAlertPresenter& alerts, TLProcessControl* processes,
                           const TLAppTarget& target);
