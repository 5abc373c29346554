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

// The desktop's notification service (null where there is none to talk to).
std::unique_ptr<TLNotificationCenter> TLMakeNotificationCenter();
// A watch on the system's memory pressure; null, with the reason in `whyNot` when given, where
// the system refuses one (the sampling ticks then find a critical level by themselves).
std::unique_ptr<TLPressureWatch> TLMakePressureWatch(QString* whyNot = nullptr);
