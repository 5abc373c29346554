#include "app/TLSamplingLoop.h"

#include "app/TLAppEnvironment.h"
#include "app/TLPreferences.h"
#include "app/TLStatusItemUpdater.h"
#include "panel/TLPanelController.h"

#include <QPointer>

#include <algorithm>
#include <climits>
#include <cmath>

TLSamplingLoop::TLSamplingLoop(const TLAppEnvironment& env, TLStatusItemUpdater& statusItem)
    : _env(env), _statusItem(statusItem) {
    _history.reserve(kHistoryLength);
    _timer.setTimerType(Qt::CoarseTimer);
    connect(&_timer, &QTimer::timeout, this, [this] { tick(); });
    _systemWait.setSingleShot(true);
    _systemWait.setInterval(kSystemWait);
    connect(&_systemWait, &QTimer::timeout, this, [this] { showWaitingSystem(); });
}

void TLSamplingLoop::restartTimer() {
    _timer.stop();
    double seconds = _env.preferences->doubleForKey(TLInterval);
    // Below half a second (and anything that is not a number) the timer runs every 2 seconds.
    if (!(seconds >= 0.5)) seconds = 2.0;
    // A value too large for the timer runs at the longest interval it can keep.
    const double ms = std::min(seconds * 1000.0, static_cast<double>(INT_MAX));
    _timer.setInterval(static_cast<int>(std::lround(ms)));
    _timer.start();
    if (_panel) _panel->setSecondsPerSample(seconds);
}

void TLSamplingLoop::tick() {
    const TLSystemStats sample = _env.sampleSystem();
    if (_history.size() >= kHistoryLength)
        _history.erase(_history.begin(),
                       _history.begin() +
                           static_cast<std::ptrdiff_t>(_history.size() - kHistoryLength + 1));
    _history.push_back(std::min(1.0, sample.usagePercent / 100.0));
    show(sample);
    if (_watchGrowth && !_sampling && !_env.popover->isShown() && _env.now) {
        const double now = _env.now();
        // The panel closed, the sample's files stay open until the next minute's: reading through
        // them costs a fraction of opening every process's files again.
        if (now >= _firstBackground && _growth.due(now)) refreshProcs();
    }
}

void TLSamplingLoop::watchGrowth() {
    if (_watchGrowth || !_env.now) return;
    _watchGrowth = true;
    // The first a minute after the start, not at it: the start has enough to do.
    _firstBackground = _env.now() + TLGrowthStep;
    if (_panel) _panel->setGrowth(&_growth);
}

void TLSamplingLoop::recordProcesses(const std::vector<TLProc>& procs) {
    if (!_watchGrowth || !_env.now) return;
    _growth.record(_env.now(), procs);
}

void TLSamplingLoop::sampleOutOfTurn() {
    show(_env.sampleSystem());
}

void TLSamplingLoop::show(const TLSystemStats& sample) {
    _statusItem.update(sample);
    if (_env.popover->isShown()) {
        if (_sampling) {
            // The process sample under way was started earlier: these figures do not wait for it.
            _systemWaiting = false;
            _systemWait.stop();
            _panel->renderSystem(sample, _history);
        } else {
            _waitingSystem = sample;
            _systemWaiting = true;
            refreshProcs();
            // A queue that finished at once has shown them already.
            if (_systemWaiting) _systemWait.start();
        }
    }
    emit sampled(sample);
}

void TLSamplingLoop::showWaitingSystem() {
    if (!_systemWaiting) return;
    _systemWaiting = false;
    _systemWait.stop();
    if (_env.popover->isShown()) _panel->renderSystem(_waitingSystem, _history);
}

void TLSamplingLoop::refreshProcs() {
    if (_sampling) return;
    _sampling = true;
    auto result = std::make_shared<std::vector<TLProc>>();
    QPointer<TLSamplingLoop> self(this);
    auto sample = _env.sampleProcesses;
    _env.procQueue->async([result, sample] { *result = sample(); },
                          [self, result] {
                              if (!self) return;
                              self->_sampling = false;
                              self->recordProcesses(*result);
                              self->showWaitingSystem();
                              if (self->_env.popover->isShown())
                                  self->_panel->renderProcesses(result.get());
                          });
}
