#pragma once
#include "os/posix/TLFd.h"
#include "platform/TLNotifications.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>

#include <chrono>
#include <memory>

// A pressure-stall trigger: the kernel wakes the event loop (POLLPRI on the file) when tasks
// stalled for memory for at least a threshold within a window, at most once per window. Nothing
// runs in between: armed, it costs no wakeup while memory is fine.
//
// Unprivileged triggers need Linux 6.5 or later and a window that is a whole multiple of 2 s;
// older kernels, kernels without PSI and sandboxes refuse, which `arm` reports.
class TLPsiTrigger final : public TLPressureWatch {
    Q_OBJECT
public:
    // "full 50000 2000000": every task that could run waited for memory for 0.05 s of a 2-second
    // window, half the share (5 %) at which the 10-second average turns the level critical: the
    // kernel's windows are not the average's, and a stall of 5 % in one of the average's periods
    // may be split between two of them, neither reaching 5 % (measured: a report only 2 s after
    // the level had turned critical). While such stalls go on, the kernel reports every 2 s, so
    // the level is read again as it crosses the line. (With a higher threshold, 0.5 s, a stall
    // that turns the level critical may not report at all: one report in 14 s while the average
    // rose to 7.6 %.)
    static constexpr const char* kMemoryTrigger = "full 50000 2000000";

    // Arms the trigger line `trigger` on the pressure file at `path`; null, with the kernel's
    // reason in `whyNot` when given, where it is refused.
    static std::unique_ptr<TLPsiTrigger> arm(const QString& path, const QByteArray& trigger,
                                             QString* whyNot = nullptr);
    ~TLPsiTrigger() override;

    int fd() const { return _fd.get(); }
    // Whether it still listens: a file that reports events faster than the kernel may (an error
    // state) is let go rather than spun on.
    bool listening() const { return _notifier.isEnabled(); }

private:
    explicit TLPsiTrigger(TLFd fd);
    void fired();

    TLFd _fd;
    QSocketNotifier _notifier;
    std::chrono::steady_clock::time_point _lastFired{};
    int _tooSoon = 0;
};
