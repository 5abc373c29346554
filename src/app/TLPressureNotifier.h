#pragma once
#include "app/TLPressureEpisode.h"
#include "panel/TLProcMenu.h"
#include "platform/TLNotifications.h"
#include "sampling/TLGrowth.h"
#include "sampling/TLProc.h"
#include "sampling/TLSystemStats.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct TLAppEnvironment;

// The keys of the notification's two actions.
inline constexpr QLatin1StringView TLOpenPanelAction{"open-panel"};
inline constexpr QLatin1StringView TLEndProcessAction{"end-process"};

// What the notification says, and whom its end action would end.
struct TLPressureMessage {
    TLNotification notification;
    std::optional<TLProcTarget> largest;   // the largest is one process
    std::optional<TLAppTarget> largestApp; // the largest is an application of several
};

// "内存压力严重" naming the two applications that use the most memory in `procs`, with their
// memory (and how many processes, for more than one) and the memory used of the total in the
// panel's format: "Firefox 占用 6.20 GB（23 个进程），code 占用 1.90 GB。已使用 15.60 GB /
// 16.00 GB。" Actions: "打开面板", then "结束 NAME…" for the largest application.
// With the growth histories, a named application that keeps growing says so ("（正在增长）"), and
// the application that grew the most, when it is not one of the two, is named after them:
// "增长最快：code（+1.20 GB / 10 分钟）。"
TLPressureMessage TLComposePressureMessage(const std::vector<TLProc>& procs,
                                           const TLSystemStats& stats,
                                           const TLGrowthTracker* growth = nullptr);

// Warns once per episode of critical memory pressure with a desktop notification (when the user
// has not turned it off) and carries out its actions. It reads the level of every system sample;
// between samples a pressure watch, armed while notifications are on, has a sample taken as soon
// as tasks stall for memory. Main thread only.
class TLPressureNotifier final : public QObject {
    Q_OBJECT
public:
    // After a stall report that finds the level below critical: this many more reads, this far
    // apart, covering the kernel's 2-s window, the next one, and an average update after them.
    static constexpr int kFollowUpMs = 500;
    static constexpr int kFollowUps = 9;

    explicit TLPressureNotifier(const TLAppEnvironment& env);
    ~TLPressureNotifier() override;

    // Arms the pressure watch while notifications are on, lets it go while they are off.
    void applySetting();
    // Every system sample. Allocates nothing unless the sample starts an episode.
    void observe(const TLSystemStats& sample);
    // The growth histories the notification tells of (none: it does not). Weak.
    void setGrowth(const TLGrowthTracker* growth) { _growth = growth; }
    // An action of the notification, by key.
    void actionInvoked(const QString& key);

    const TLPressureEpisode& episode() const { return _episode; }
    bool watching() const { return _watch != nullptr; }
    // Why the system refused a pressure watch, when it did.
    const QString& watchRefusal() const { return _watchRefusal; }
    // The process the latest notification offers to end.
    const std::optional<TLProcTarget>& endTarget() const { return _endTarget; }
    const std::optional<TLAppTarget>& endApp() const { return _endApp; }

signals:
    // A system sample is wanted out of turn (its result comes back through observe).
    void sampleWanted();
    // The panel is to open, as `tide --show` opens it.
    void panelWanted();

private:
    bool enabled() const;
    void notify();
    void stalled();

    const TLAppEnvironment& _env;
    TLPressureEpisode _episode;
    TLSystemStats _latest;
    const TLGrowthTracker* _growth = nullptr;
    std::unique_ptr<TLPressureWatch> _watch;
    // Reads after a stall report while the level is not yet critical (see stalled()).
    QTimer _followUp;
    int _followUpsLeft = 0;
    QString _watchRefusal;
    std::optional<TLProcTarget> _endTarget;
    std::optional<TLAppTarget> _endApp;
};
