#pragma once
// Desktop notifications and the kernel's word that memory is getting tight, behind small
// interfaces: the application decides when to notify and what to say; these only deliver.

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

// One notification: urgent, from this application, with buttons where the desktop shows them.
struct TLNotification {
    struct Action {
        QString key;   // what actionInvoked reports
        QString label; // what the button says
        bool operator==(const Action&) const = default;
    };
    QString title;
    QString body;
    QList<Action> actions;
    bool urgent = true; // false: of normal urgency
};

// Posts notifications without ever waiting for the desktop: a desktop that answers late, or not
// at all, holds up nothing. A new notification replaces the one still shown.
class TLNotificationCenter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TLNotificationCenter() override = default;
    virtual void post(const TLNotification& notification) = 0;

signals:
    // The user chose one of the latest notification's actions.
    void actionInvoked(const QString& key);
};

// Tells, with no timer and no polling, when tasks start to stall for memory (a kernel trigger
// or notification source), so that a critical level is seen between two samples.
class TLPressureWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TLPressureWatch() override = default;

signals:
    // Tasks stalled for memory just now: time to read the level again.
    void stalled();
};

// One program the system ended to free memory.
struct TLKillReport {
    enum class Cause {
        OutOfMemory,    // the kernel's out-of-memory killer
        MemoryPressure, // systemd-oomd, for memory pressure ("memory-pressure")
        SwapFull,       // systemd-oomd, for memory and swap used up ("memory-used")
    };
    Cause cause = Cause::OutOfMemory;
    // What systemd-oomd names, the cgroup it ended: its application's key ("app:<id>") where the
    // cgroup's unit was started for one, and the name to show (the application's, else the
    // unit's). The kernel names nobody: the receiver finds who went.
    QString cgroup;
    QString appKey;
    QString name;
};

// Tells, with no timer and no polling, each time the system ends a program for memory: the
// kernel within the user's session, and systemd-oomd anywhere.
class TLKillWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TLKillWatch() override = default;

signals:
    void killed(const TLKillReport& report);
};

// The desktop's notification service (null where there is none to talk to).
std::unique_ptr<TLNotificationCenter> TLMakeNotificationCenter();
// A watch on the system's memory pressure; null, with the reason in `whyNot` when given, where
// the system refuses one (the sampling ticks then find a critical level by themselves).
std::unique_ptr<TLPressureWatch> TLMakePressureWatch(QString* whyNot = nullptr);
// A watch on the kills the system makes for memory; null, with the reasons in `whyNot` when
// given, where the system tells of none.
std::unique_ptr<TLKillWatch> TLMakeKillWatch(QString* whyNot = nullptr);
