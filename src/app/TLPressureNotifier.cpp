#include "app/TLPressureNotifier.h"

#include "app/TLAppEnvironment.h"
#include "app/TLPreferences.h"
#include "format/TLFormat.h"
#include "panel/TLKillConfirmation.h"
#include "panel/TLProcRanking.h"
#include "sampling/TLAppGroups.h"

#include <QPointer>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// "（3 个进程）", "（正在增长）", "（3 个进程，正在增长）" or nothing.
QString aside(size_t members, bool growing) {
    QStringList parts;
    if (members > 1) parts << QStringLiteral("%1 个进程").arg(members);
    if (growing) parts << QStringLiteral("正在增长");
    return parts.isEmpty() ? QString() : QStringLiteral("（%1）").arg(parts.join(QStringLiteral("，")));
}

// The growing application that grew the most, unless it is one of `named`.
const TLGrowthTracker::Tracked* fastestOthers(const TLGrowthTracker& growth,
                                              const std::vector<std::string>& named) {
    const TLGrowthTracker::Tracked* fastest = nullptr;
    for (const TLGrowthTracker::Tracked& app : growth.apps())
        if (app.verdict.growing && (!fastest || app.verdict.change > fastest->verdict.change))
            fastest = &app;
    if (!fastest || std::find(named.begin(), named.end(), fastest->key) != named.end())
        return nullptr;
    return fastest;
}

} // namespace

TLPressureMessage TLComposePressureMessage(const std::vector<TLProc>& procs,
                                           const TLSystemStats& stats,
                                           const TLGrowthTracker* growth) {
    const std::vector<TLAppGroup> groups = TLGroupByApp(procs);
    const std::vector<TLProc> totals = TLAppTotals(groups);
    const TLProcRanking ranking = TLRankProcs(totals, true);
    const auto groupOf = [&](const TLProc* total) -> const TLAppGroup& {
        return groups[static_cast<size_t>(total - totals.data())];
    };
    QStringList largest;
    std::vector<std::string> named;
    for (size_t i = 0; i < ranking.order.size() && i < 2; ++i) {
        const TLProc& top = *ranking.order[i];
        named.push_back(TLAppKeyOf(top));
        const TLGrowthTracker::Tracked* tracked = growth ? growth->app(named.back()) : nullptr;
        largest << QStringLiteral("%1 占用 %2%3")
                       .arg(QString::fromStdString(top.name), TLFormatBytes(top.memory),
                            aside(groupOf(&top).members.size(),
                                  tracked && tracked->verdict.growing));
    }
    QString body;
    if (!largest.isEmpty()) body = largest.join(QStringLiteral("，")) + QStringLiteral("。");
    if (const TLGrowthTracker::Tracked* fastest = growth ? fastestOthers(*growth, named) : nullptr)
        body += QStringLiteral("增长最快：%1（+%2 / %3 分钟）。")
                    .arg(QString::fromStdString(fastest->name),
                         TLFormatBytes(static_cast<uint64_t>(fastest->verdict.change)))
                    .arg(std::lround((fastest->series.back().time - fastest->series[0].time) / 60));
    body += QStringLiteral("已使用 %1 / %2。")
                .arg(TLFormatBytes(stats.used), TLFormatBytes(stats.total));

    TLPressureMessage message;
    message.notification.title = QStringLiteral("内存压力严重");
    message.notification.body = body;
    message.notification.actions.append({QString(TLOpenPanelAction), QStringLiteral("打开面板")});
    if (!ranking.order.empty()) {
        const TLProc& top = *ranking.order.front();
        const QString name = QString::fromStdString(top.name);
        message.notification.actions.append(
            {QString(TLEndProcessAction), QStringLiteral("结束 %1…").arg(name)});
        const TLAppGroup& group = groupOf(&top);
        if (group.members.size() == 1) {
            message.largest = TLProcTarget{top.pid, name, TLEndSignal::Terminate, top.startTime};
        } else {
            message.largestApp = TLAppTargetFor(name, group.members, TLEndSignal::Terminate);
        }
    }
    return message;
}

TLPressureNotifier::TLPressureNotifier(const TLAppEnvironment& env) : _env(env) {
    _followUp.setInterval(kFollowUpMs);
    connect(&_followUp, &QTimer::timeout, this, [this] {
        if (--_followUpsLeft <= 0) _followUp.stop();
        emit sampleWanted();
    });
}

TLPressureNotifier::~TLPressureNotifier() = default;

bool TLPressureNotifier::enabled() const {
    return _env.preferences->boolForKey(TLNotifyCriticalPressure);
}

void TLPressureNotifier::applySetting() {
    if (!enabled() || !_env.notifications) {
        _watch.reset();
        _followUp.stop();
        return;
    }
    if (_watch || !_env.makePressureWatch) return;
    _watchRefusal.clear();
    _watch = _env.makePressureWatch(&_watchRefusal);
    if (!_watch) return;
    connect(_watch.get(), &TLPressureWatch::stalled, this, [this] { stalled(); });
}

void TLPressureNotifier::stalled() {
    // The kernel reports a stall as soon as it passes the trigger's threshold, which is often
    // before the 10-second average it updates every 2 s has crossed the critical line, and then
    // at most once per 2-s window (its windows are not the average's: a stall that turns the
    // average critical may be split between two of them). So while the level read on a report
    // is not critical yet, it is read again every half second for the next two windows.
    emit sampleWanted();
    if (TLPressureIsCritical(_latest.pressureLevel)) {
        _followUp.stop();
        return;
    }
    _followUpsLeft = kFollowUps;
    _followUp.start();
}

void TLPressureNotifier::observe(const TLSystemStats& sample) {
    _latest = sample;
    if (TLPressureIsCritical(sample.pressureLevel)) _followUp.stop();
    const double now = _env.now ? _env.now() : 0.0;
    if (_episode.observe(sample.pressureLevel, now) && enabled()) notify();
}

void TLPressureNotifier::notify() {
    if (!_env.notifications || !_env.procQueue || !_env.sampleProcesses) return;
    // One process sample for the names, taken off the main thread as the panel's are.
    auto procs = std::make_shared<std::vector<TLProc>>();
    auto sample = _env.sampleProcesses;
    QPointer<TLPressureNotifier> self(this);
    _env.procQueue->async(
        [procs, sample] { *procs = sample(); },
        [self, procs] {
            if (!self) return;
            const TLAppEnvironment& env = self->_env;
            TLPressureMessage message =
                TLComposePressureMessage(*procs, self->_latest, self->_growth);
            // The identity of the process offered, for the check before the
            // signal (a sample from ps has no start time of its own).
            if (message.largest && message.largest->startTime == 0 && env.panelServices.processes) {
                uint64_t start = 0;
                if (env.panelServices.processes->startTime(message.largest->pid, start))
                    message.largest->startTime = start;
            }
            if (message.largestApp && env.panelServices.processes)
                for (TLProcTarget& member : message.largestApp->members) {
                    uint64_t start = 0;
                    if (member.startTime == 0 &&
                        env.panelServices.processes->startTime(member.pid, start))
                        member.startTime = start;
                }
            self->_endTarget = message.largest;
            self->_endApp = message.largestApp;
            if (env.notifications) env.notifications->post(message.notification);
            // What the sample keeps open is for the panel; closed, let it go.
            if (!env.popover->isShown() && env.releaseProcesses)
                env.procQueue->async(env.releaseProcesses, {});
        });
}

void TLPressureNotifier::actionInvoked(const QString& key) {
    if (key == TLOpenPanelAction) {
        emit panelWanted();
    } else if (key == TLEndProcessAction) {
        // The same confirmation as the row menu's "结束进程…", and the same check that the pid
        // still belongs to the process named.
        if (!_env.panelServices.alerts) return;
        if (_endTarget)
            TLConfirmAndSignal(*_env.panelServices.alerts, _env.panelServices.processes,
                               *_endTarget);
        else if (_endApp)
            TLConfirmAndSignalApp(*_env.panelServices.alerts, _env.panelServices.processes,
                                  *_endApp);
    }
}
