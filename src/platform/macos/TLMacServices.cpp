// The desktop services on macOS: process identities and signals, Activity Monitor, and the
// system's wording.

#include "platform/TLPlatformTexts.h"
#include "platform/TLServices.h"

#include <QDesktopServices>
#include <QUrl>

#include <libproc.h>
#include <signal.h>
#include <sys/proc_info.h>
#include <sys/resource.h>

namespace {

class MacProcessControl final : public TLProcessControl {
public:
    bool startTime(int32_t pid, uint64_t& out) override {
        if (pid <= 0) return false;
        // The same figure the process sample records for a process it can inspect ...
        struct rusage_info_v4 usage {};
        if (proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) == 0) {
            out = usage.ri_proc_start_abstime;
            return out != 0;
        }
        // ... and for the others (which the sample records without one), the start time the
        // kernel tells anyone, in microseconds.
        struct proc_bsdinfo info {};
        if (proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, PROC_PIDTBSDINFO_SIZE) !=
            PROC_PIDTBSDINFO_SIZE)
            return false;
        out = info.pbi_start_tvsec * 1000000 + info.pbi_start_tvusec;
        return out != 0;
    }

    bool sendSignal(int32_t pid, TLEndSignal signal) override {
        // pid 0 and negative pids address process groups or every process: never.
        if (pid <= 0) return false;
        return ::kill(pid, TLSignalNumber(signal)) == 0;
    }
};

constexpr char kActivityMonitor[] = "/System/Applications/Utilities/Activity Monitor.app";

class MacAppLauncher final : public TLAppLauncher {
public:
    bool openSystemMonitor() override {
        // Opening an application bundle's URL launches it, or brings it forward when it runs.
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromUtf8(kActivityMonitor)));
    }
};

} // namespace

TLProcessControl& TLSystemProcessControl() {
    static MacProcessControl control;
    return control;
}

TLAppLauncher& TLSystemAppLauncher() {
    static MacAppLauncher launcher;
    return launcher;
}

const TLPlatformTexts& TLThisPlatformTexts() {
    return TLMacTexts();
}
