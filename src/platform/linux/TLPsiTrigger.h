#pragma once
#include "platform/TLNotifications.h"
#include "platform/linux/sampling/TLFd.h"

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
    // "full 500000 2000000": every task that could run waited for memory for 0.5 s of 2 s. That
    // is where the critical level (a 10-second average of 5 %) is about to be reached, or is.
    static constexpr const char* kMemorySpec = "full 500000 2000000";

    // Arms `spec` on the pressure file at `path`; null, with the kernel's reason in `whyNot` when
    // given, where it is refused.
    static std::unique_ptr<TLPsiTrigger> arm(const QString& path, const QByteArray& spec,
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
