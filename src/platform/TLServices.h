#pragma once
// Desktop services behind small interfaces, so that the panel and the application logic can be
// driven headless in tests (a fake answers an alert, a virtual clock runs the delayed steps).

#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>

// Runs work later on the main thread.
class TLScheduler {
public:
    virtual ~TLScheduler() = default;
    virtual void after(double seconds, std::function<void()> work) = 0;
};

// A modal alert: a message, an informative text and its buttons, first button the default.
struct TLAlert {
    enum class Style { Warning, Informational, Critical };
    Style style = Style::Warning;
    QString messageText;
    QString informativeText;
    QStringList buttons; // empty: the toolkit's single default button
    QString iconPath;    // optional image shown beside the texts
};

// The value `run` returns for the first button; the second is one more, and so on.
inline constexpr int TLAlertFirstButtonReturn = 1000;

class TLAlertPresenter {
public:
    virtual ~TLAlertPresenter() = default;
    // Shows the alert modally and returns TLAlertFirstButtonReturn + the index of the button
    // chosen (the first when the alert is dismissed with the default action).
    virtual int run(const TLAlert& alert) = 0;
};

class TLClipboard {
public:
    virtual ~TLClipboard() = default;
    // Replaces the clipboard's contents by this plain text.
    virtual void setText(const QString& text) = 0;
};

// The two ways to end a process: a request to quit, which it may handle (SIGTERM), and an end
// it cannot refuse (SIGKILL).
enum class TLEndSignal { Terminate, Kill };

// The signal number of `signal`.
inline int TLSignalNumber(TLEndSignal signal) {
    return signal == TLEndSignal::Kill ? SIGKILL : SIGTERM;
}

// Sending signals to processes, with the identity check that keeps a recycled pid safe.
class TLProcessControl {
public:
    virtual ~TLProcessControl() = default;
    // The start time of the process now holding `pid` (an opaque identity: two processes that
    // held the same pid have different values); false when there is no such process.
    virtual bool startTime(int32_t pid, uint64_t& out) = 0;
    // Sends `signal` to `pid`; true when it was delivered.
    virtual bool sendSignal(int32_t pid, TLEndSignal signal) = 0;

    enum class Result {
        Delivered,
        NotThatProcess, // gone, or the pid now belongs to another process
        Refused,        // no permission (or no pid a process can have)
    };
    // Sends `signal` to the process holding `pid` that started at `startTime`, and to no other.
    // This check-then-send leaves a short window for the pid to change hands between the two;
    // platforms that can hold on to a process (a pidfd on Linux) close it.
    virtual Result signalProcess(int32_t pid, uint64_t startTime, TLEndSignal signal) {
        if (pid <= 0) return Result::Refused;
        uint64_t now = 0;
        if (startTime == 0 || !this->startTime(pid, now) || now != startTime)
            return Result::NotThatProcess;
        return sendSignal(pid, signal) ? Result::Delivered : Result::Refused;
    }
};

class TLAppLauncher {
public:
    virtual ~TLAppLauncher() = default;
    // Opens the desktop's system monitor (Activity Monitor on macOS). False when none was found.
    virtual bool openSystemMonitor() = 0;
};

// The real services of this desktop, created on first use.
TLScheduler& TLMainScheduler();
TLAlertPresenter& TLSystemAlerts();
TLClipboard& TLSystemClipboard();
TLProcessControl& TLSystemProcessControl();
TLAppLauncher& TLSystemAppLauncher();
