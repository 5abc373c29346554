#pragma once
#include <QObject>
#include <QTimer>

#include "sampling/TLGrowth.h"
#include "sampling/TLSystemStats.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

struct TLAppEnvironment;
class TLPanelController;
class TLStatusItemUpdater;

// The sampling loop: a timer at the chosen interval takes a system sample, keeps its usage in the
// history and shows it on the status item and, while the panel is open, in the panel, with a
// process sample taken on the process queue, one at a time. Main thread only.
//
// With the panel open, a tick's system figures wait for the process sample it starts and both are
// shown together, so that the panel is painted and sent to the display once a tick rather than
// twice; should the process sample take longer than kSystemWait, the figures are shown without
// it.
//
// While growth is watched (not in snapshot mode), every process sample feeds the growth histories,
// and with the panel closed a tick takes a process sample in the background once a minute, never
// while another is under way.
class TLSamplingLoop final : public QObject {
    Q_OBJECT
public:
    // How many usage values the history keeps.
    static constexpr size_t kHistoryLength = 90;
    // The longest a tick's system figures wait for its process sample, in milliseconds.
    static constexpr int kSystemWait = 250;

    TLSamplingLoop(const TLAppEnvironment& env, TLStatusItemUpdater& statusItem);
    // The panel, once the application has made it at launch.
    void setPanel(TLPanelController* panel) { _panel = panel; }

    // Starts the timer again at the interval in the preferences.
    void restartTimer();
    void tick();
    // A system sample out of turn (the kernel reports a memory stall): shown like a tick's, but
    // not kept in the history, whose values stay one interval apart.
    void sampleOutOfTurn();
    // A process sample for the open panel (or, closed, for the growth histories), unless one is
    // under way.
    void refreshProcs();
    void clearHistory() { _history.clear(); }
    // Starts keeping the growth histories (once the panel exists).
    void watchGrowth();

    const TLGrowthTracker& growth() const { return _growth; }

    const std::vector<double>& history() const { return _history; }
    bool sampling() const { return _sampling; } // a process sample is under way
    const QTimer& timer() const { return _timer; }

signals:
    // Every system sample, after it is shown. A receiver must not allocate on its common path:
    // the tick does not.
    void sampled(const TLSystemStats& sample);

private:
    void show(const TLSystemStats& sample);
    // Shows the system sample that waits, if one does and the panel is still open.
    void showWaitingSystem();
    void recordProcesses(const std::vector<TLProc>& procs);

    const TLAppEnvironment& _env;
    TLStatusItemUpdater& _statusItem;
    TLPanelController* _panel = nullptr; // made at launch
    QTimer _timer;
    std::vector<double> _history;
    bool _sampling = false;
    TLSystemStats _waitingSystem;
    bool _systemWaiting = false;
    QTimer _systemWait;
    TLGrowthTracker _growth;
    bool _watchGrowth = false;
    double _firstBackground = 0; // the earliest time of a background sample
};
