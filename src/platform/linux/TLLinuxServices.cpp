// The desktop services on Linux: process identities and signals, the desktop's system monitor,
// the system's own wording, and the keyboard's Control key.

#include "platform/TLPlatformTexts.h"
#include "platform/TLServices.h"
#include "platform/TLSystemMonitors.h"
#include "platform/TLWindowSystem.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

#include "os/TLDescriptorLimit.h"
#include "os/linux/TLProcfsProcessSource.h"
#include "os/posix/TLFd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

class LinuxProcessControl final : public TLProcessControl {
public:
    // The start time the process sample records, read by the same parser: the kill check compares
    // the two, so they can never disagree on how a line is read.
    bool startTime(int32_t pid, uint64_t& out) override {
        if (pid <= 0) return false;
        char path[48];
        std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
        const TLFd fd(::open(path, O_RDONLY | O_CLOEXEC));
        if (!fd.valid()) return false;
        char buf[1024];
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n <= 0) return false;
        uint64_t ticks = 0;
        bool kernelThread = false;
        return TLParseProcStat(std::string_view(buf, static_cast<size_t>(n)), ticks, kernelThread,
                               out) &&
               out != 0;
    }

    bool sendSignal(int32_t pid, TLEndSignal signal) override {
        // pid 0 and negative pids address process groups or every process: never.
        if (pid <= 0) return false;
        return ::kill(pid, TLSignalNumber(signal)) == 0;
    }

    // A pidfd names one process, not a pid: opened first, it still names that process if the pid
    // changes hands before the signal, and the signal then fails instead of reaching another one.
    Result signalProcess(int32_t pid, uint64_t startTime, TLEndSignal signal) override {
        if (pid <= 0) return Result::Refused;
        TLFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        if (!pidfd.valid()) {
            if (errno == ESRCH) return Result::NotThatProcess;
            return TLProcessControl::signalProcess(pid, startTime, signal); // older kernels
        }
        // The pidfd holds the process that had the pid when it was opened: if that is the one
        // chosen, the pid still shows its start time now.
        uint64_t now = 0;
        if (startTime == 0 || !this->startTime(pid, now) || now != startTime)
            return Result::NotThatProcess;
        if (::syscall(SYS_pidfd_send_signal, pidfd.get(), TLSignalNumber(signal), nullptr, 0) == 0)
            return Result::Delivered;
        return errno == ESRCH ? Result::NotThatProcess : Result::Refused;
    }
};

class LinuxAppLauncher final : public TLAppLauncher {
public:
    bool openSystemMonitor() override {
        const QStringList candidates =
            TLSystemMonitorCandidates(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
        for (const QString& name : candidates) {
            const QString path = QStandardPaths::findExecutable(name);
            if (path.isEmpty()) continue;
            // Without the setting that lets Tide's own panel go without a shell surface on
            // Wayland: a Qt program would lose the shell surfaces of some of its windows.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT"));
            QProcess process;
            process.setProgram(path);
            process.setProcessEnvironment(env);
            const TLChildDescriptorLimit childLimit;
            if (process.startDetached()) return true;
        }
        return false;
    }
};

} // namespace

TLProcessControl& TLSystemProcessControl() {
    static LinuxProcessControl control;
    return control;
}

TLAppLauncher& TLSystemAppLauncher() {
    static LinuxAppLauncher launcher;
    return launcher;
}

const TLPlatformTexts& TLThisPlatformTexts() {
    return TLLinuxTexts();
}

bool TLControlKeyHeld() {
    return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
}
