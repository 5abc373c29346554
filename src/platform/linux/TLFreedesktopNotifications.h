#pragma once
#include "platform/TLNotifications.h"

#include <QDBusConnection>
#include <QString>

#include <optional>

// Notifications through the desktop's notification server (org.freedesktop.Notifications on the
// session bus). Every call is asynchronous. Each post first asks the server what it can do, since
// servers come and go with the session: the actions go along only where it lists "actions", and
// where no server answers nothing is shown and nothing waits.
class TLFreedesktopNotifications final : public TLNotificationCenter {
    Q_OBJECT
public:
    // A call not answered within `timeoutMs` counts as failed.
    explicit TLFreedesktopNotifications(const QDBusConnection& bus, int timeoutMs = 5000);

    void post(const TLNotification& notification) override;

    // The id the server gave the latest notification while it is shown; 0 otherwise.
    uint shownId() const { return _shownId; }
    // Calls still waiting for an answer.
    int pending() const { return _pending; }

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    void send(const TLNotification& notification, bool withActions);

    QDBusConnection _bus;
    int _timeoutMs;
    uint _shownId = 0;  // replaced by the next one
    uint _latestId = 0; // whose actions count (a server may close it before it reports one)
    int _pending = 0;
    quint64 _posts = 0; // the latest post, so that a late answer to an older one changes nothing
};
