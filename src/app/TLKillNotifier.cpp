#include "app/TLKillNotifier.h"

#include "app/TLAppEnvironment.h"
#include "app/TLPreferences.h"
#include "app/TLPressureNotifier.h"
#include "format/TLFormat.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <utility>

std::vector<TLKilledProgram> TLIdentifyKilled(const std::vector<TLKillReport>& reports,
                                              const TLGrowthTracker& before,
                                              const std::vector<TLProc>& now,
                                              std::vector<TLProcIdentity>* told) {
    std::vector<const TLGrowthTracker::Tracked*> gone;
    for (const TLGrowthTracker::Tracked& t : before.processes()) {
        if (told && std::find(told->begin(), told->end(), TLProcIdentity{t.pid, t.startTime}) !=
                        told->end())
            continue;
        const bool running = std::any_of(now.begin(), now.end(), [&](const TLProc& p) {
            return p.pid == t.pid && (p.startTime == t.startTime || p.startTime == 0);
        });
        if (!running) gone.push_back(&t);
    }
    std::vector<TLKilledProgram> killed;
    size_t nextGone = 0;
    for (const TLKillReport& report : reports) {
        TLKilledProgram program;
        program.cause = report.cause;
        if (report.cause != TLKillReport::Cause::OutOfMemory) {
            program.name = report.name;
            // Through its UTF-8 bytes: newer Qt makes toStdString a library call, which the macOS
            // check's stubs, made from the older Qt of the Linux build, do not export.
            const QByteArray key = report.appKey.toUtf8();
            if (const TLGrowthTracker::Tracked* app =
                    key.isEmpty() ? nullptr : before.app(std::string(key.constData(), key.size())))
                program.memory = app->memory;
        } else if (nextGone < gone.size()) {
            const TLGrowthTracker::Tracked& t = *gone[nextGone++];
            if (told) {
                // Remembered, so that the next kill before the next sample is not told of it.
                if (told->size() >= 64) told->erase(told->begin());
                told->push_back({t.pid, t.startTime});
            }
            program.name = QString::fromStdString(t.appName.empty() ? t.name : t.appName);
            program.memory = t.memory;
        }
        killed.push_back(program);
    }
    return killed;
}

namespace {

QString causeText(TLKillReport::Cause cause) {
    switch (cause) {
    case TLKillReport::Cause::MemoryPressure:
        return QStringLiteral("内存压力过高");
    case TLKillReport::Cause::SwapFull:
        return QStringLiteral("内存和交换空间将用尽");
    case TLKillReport::Cause::OutOfMemory:
        break;
    }
    return QStringLiteral("内存不足");
}

// "A（1.00 GB）", "A（1.00 GB）、B", then the unnamed: "A 以及另外 2 个进程", "一个进程",
// "3 个进程".
QString listed(const std::vector<const TLKilledProgram*>& programs) {
    QStringList names;
    qsizetype unnamed = 0;
    for (const TLKilledProgram* p : programs) {
        if (p->name.isEmpty())
            ++unnamed;
        else
            names << (p->memory ? QStringLiteral("%1（%2）").arg(p->name, TLFormatBytes(p->memory))
                                : p->name);
    }
    QString text = names.join(QStringLiteral("、"));
    if (unnamed > 0 && !names.isEmpty()) text += QStringLiteral(" 以及另外 %1 个进程").arg(unnamed);
    if (names.isEmpty())
        text = unnamed == 1 ? QStringLiteral("一个进程") : QStringLiteral("%1 个进程").arg(unnamed);
    return text;
}

} // namespace

TLNotification TLComposeKillMessage(const std::vector<TLKilledProgram>& killed) {
    TLNotification n;
    n.urgent = false;
    n.actions.append({QString(TLOpenPanelAction), QStringLiteral("打开面板")});
    QStringList names;
    for (const TLKilledProgram& p : killed)
        if (!p.name.isEmpty() && !names.contains(p.name)) names << p.name;
    if (names.size() > 3)
        names = QStringList{names[0], names[1] + QStringLiteral(" 等 %1 个").arg(names.size())};
    n.title = names.isEmpty() ? QStringLiteral("已结束进程")
                              : QStringLiteral("已结束进程：") + names.join(QStringLiteral("、"));
    // A sentence per cause, in the order the causes first came.
    std::vector<TLKillReport::Cause> causes;
    for (const TLKilledProgram& p : killed)
        if (std::find(causes.begin(), causes.end(), p.cause) == causes.end())
            causes.push_back(p.cause);
    for (TLKillReport::Cause cause : causes) {
        std::vector<const TLKilledProgram*> programs;
        for (const TLKilledProgram& p : killed)
            if (p.cause == cause) programs.push_back(&p);
        const QString who = listed(programs);
        // A space between Chinese and a name in Latin letters or a figure, none before Chinese.
        const bool latin = !who.isEmpty() && who.front().unicode() < 0x2E80;
        n.body += causeText(cause) + QStringLiteral("，系统结束了") +
                  (latin ? QStringLiteral(" ") : QString()) + who + QStringLiteral("。");
    }
    return n;
}

TLKillNotifier::TLKillNotifier(const TLAppEnvironment& env) : _env(env) {}

TLKillNotifier::~TLKillNotifier() = default;

void TLKillNotifier::applySetting() {
    if (!_env.preferences->boolForKey(TLNotifyCriticalPressure) || !_env.notifications) {
        _watch.reset();
        _reports.clear();
        ++_round; // what was waiting is not told
        return;
    }
    if (_watch || !_env.makeKillWatch) return;
    _watchRefusal.clear();
    _watch = _env.makeKillWatch(&_watchRefusal);
    if (!_watch) return;
    connect(_watch.get(), &TLKillWatch::killed, this, [this](const TLKillReport& r) { report(r); });
}

void TLKillNotifier::report(const TLKillReport& report) {
    if (_reports.empty()) {
        _before = _growth ? *_growth : TLGrowthTracker();
        QPointer<TLKillNotifier> self(this);
        const uint64_t round = _round;
        auto flushLater = [self, round] {
            if (self && self->_round == round) self->flush();
        };
        if (_env.scheduler)
            _env.scheduler->after(kCoalesceSeconds, flushLater);
        else
            QTimer::singleShot(static_cast<int>(kCoalesceSeconds * 1000), this, flushLater);
    }
    // A burst of kills is told in one notification, and a runaway source cannot flood the desk.
    if (_reports.size() < 64) _reports.push_back(report);
}

void TLKillNotifier::flush() {
    if (_reports.empty() || !_env.notifications) return;
    ++_round;
    auto reports = std::make_shared<std::vector<TLKillReport>>(std::exchange(_reports, {}));
    auto before = std::make_shared<TLGrowthTracker>(std::move(_before));
    const bool kernel = std::any_of(reports->begin(), reports->end(), [](const TLKillReport& r) {
        return r.cause == TLKillReport::Cause::OutOfMemory;
    });
    QPointer<TLKillNotifier> self(this);
    auto post = [self, reports, before](const std::vector<TLProc>& now) {
        if (!self || !self->_env.notifications) return;
        self->_env.notifications->post(
            TLComposeKillMessage(TLIdentifyKilled(*reports, *before, now, &self->_told)));
    };
    if (!kernel || !_env.procQueue || !_env.sampleProcesses) {
        post({});
        return;
    }
    // Who is gone: a sample now, off the main thread, against the processes last seen.
    auto procs = std::make_shared<std::vector<TLProc>>();
    auto sample = _env.sampleProcesses;
    _env.procQueue->async([procs, sample] { *procs = sample(); }, [post, procs] { post(*procs); });
}
