#include "platform/linux/TLPsiTrigger.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

std::unique_ptr<TLPsiTrigger> TLPsiTrigger::arm(const QString& path, const QByteArray& trigger,
                                                QString* whyNot) {
    auto refuse = [&](const char* what, int error) -> std::unique_ptr<TLPsiTrigger> {
        if (whyNot)
            *whyNot = QStringLiteral("%1 %2: %3")
                          .arg(QString::fromLatin1(what), path,
                               QString::fromLocal8Bit(std::strerror(error)));
        return nullptr;
    };
    const QByteArray file = path.toLocal8Bit();
    TLFd fd(::open(file.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return refuse("cannot open", errno);
    // The kernel takes the trigger line with its terminating NUL.
    const ssize_t n =
        ::write(fd.get(), trigger.constData(), static_cast<size_t>(trigger.size()) + 1);
    if (n < 0) return refuse("the kernel refused a trigger on", errno);
    return std::unique_ptr<TLPsiTrigger>(new TLPsiTrigger(std::move(fd)));
}

TLPsiTrigger::TLPsiTrigger(TLFd fd)
    : _fd(std::move(fd)), _notifier(_fd.get(), QSocketNotifier::Exception) {
    connect(&_notifier, &QSocketNotifier::activated, this, [this] { fired(); });
}

TLPsiTrigger::~TLPsiTrigger() {
    // The notifier goes before the descriptor it watches.
    _notifier.setEnabled(false);
}

void TLPsiTrigger::fired() {
    // The kernel reports at most one event per window (0.5 s at the least). Events much closer
    // than that mean the file is in an error state that poll reports on every call.
    const auto now = std::chrono::steady_clock::now();
    const bool soon = _lastFired != std::chrono::steady_clock::time_point{} &&
                      now - _lastFired < std::chrono::milliseconds(250);
    _lastFired = now;
    _tooSoon = soon ? _tooSoon + 1 : 0;
    if (_tooSoon >= 3) {
        _notifier.setEnabled(false);
        return;
    }
    emit stalled();
}

std::unique_ptr<TLPressureWatch> TLMakePressureWatch(QString* whyNot) {
    return TLPsiTrigger::arm(QStringLiteral("/proc/pressure/memory"),
                             QByteArray(TLPsiTrigger::kMemoryTrigger), whyNot);
}
