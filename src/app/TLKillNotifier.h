#pragma once
#include "platform/TLNotifications.h"
#include "sampling/TLGrowth.h"
#include "sampling/TLProc.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct TLAppEnvironment;

// A program the system ended for memory, as the notification names it.
struct TLKilledProgram {
    TLKillReport::Cause cause = TLKillReport::Cause::OutOfMemory;
    QString name;        // empty: not known
    uint64_t memory = 0; // its last footprint; 0: not known
};

// A process: its pid and its start time.
struct TLProcIdentity {
    int32_t pid = 0;
    uint64_t startTime = 0;
    bool operator==(const TLProcIdentity&) const = default;
};

// Who the reports are about. systemd-oomd names its cgroup: the application of that name, with
// the memory its processes were last seen using. The kernel names nobody: each of its kills is
// the largest of the processes last seen (`before`, largest first) that is gone from `now` and
// not taken by an earlier kill, nor among those `told` already holds (which gets the ones found).
std::vector<TLKilledProgram> TLIdentifyKilled(const std::vector<TLKillReport>& reports,
                                              const TLGrowthTracker& before,
                                              const std::vector<TLProc>& now,
                                              std::vector<TLProcIdentity>* told = nullptr);

// "已结束进程：Firefox", "内存不足，系统结束了 Firefox（6.20 GB）。", of normal urgency, with the
// action "打开面板". Several kills are one notification, a sentence per cause.
TLNotification TLComposeKillMessage(const std::vector<TLKilledProgram>& killed);

// Tells, with a desktop notification from 潮汐, of each program the system ends for memory, while
// notifications are on (the setting of critical pressure's). Kills that come within a few
// seconds of each other are told in one. Main thread only.
class TLKillNotifier final : public QObject {
    Q_OBJECT
public:
    // How long after a first kill others are waited for.
    static constexpr double kCoalesceSeconds = 3;

    explicit TLKillNotifier(const TLAppEnvironment& env);
    ~TLKillNotifier() override;

    // Who was last seen using memory: the growth histories' largest processes. Weak.
    void setGrowth(const TLGrowthTracker* growth) { _growth = growth; }
    // Arms the watch while notifications are on, lets it go while they are off.
    void applySetting();
    void report(const TLKillReport& report);

    bool watching() const { return _watch != nullptr; }
    const QString& watchRefusal() const { return _watchRefusal; }

private:
    void flush();

    const TLAppEnvironment& _env;
    const TLGrowthTracker* _growth = nullptr;
    std::unique_ptr<TLKillWatch> _watch;
    QString _watchRefusal;
    std::vector<TLKillReport> _reports;
    // The largest processes as they were when the first report came.
    TLGrowthTracker _before;
    std::vector<TLProcIdentity> _told; // the processes already told of, latest last
    uint64_t _round = 0; // counts the notifications told or dropped: a later flush is stale
};
