#pragma once
#include "os/linux/TLDesktopEntries.h"
#include "os/posix/TLFd.h"
#include "platform/TLNotifications.h"

#include <QDBusConnection>
#include <QSocketNotifier>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// The kills the system makes for memory on Linux, from two sources, each armed where it can be:
// - systemd-oomd's `Killed(cgroup, reason)` signal on the system bus (systemd 252 and later);
// - the `oom_kill` count in memory.events of the session's cgroup (cgroup v2), which the kernel
//   raises for every process of the session its out-of-memory killer ends, hierarchically, and
//   whose change it announces to inotify.
class TLLinuxKillWatch final : public TLKillWatch {
    Q_OBJECT
public:
    explicit TLLinuxKillWatch(QObject* parent = nullptr);
    ~TLLinuxKillWatch() override;

    // Listens to systemd-oomd on `bus`; false, with the reason, where the bus is not there.
    bool watchOomd(const QDBusConnection& bus, QString* whyNot = nullptr);
    // Watches the memory.events file at `path`; false, with the reason, where it cannot be read
    // or watched.
    bool watchMemoryEvents(const QString& path, QString* whyNot = nullptr);
    // The memory.events of the session this process runs in, under the cgroup v2 mount at
    // `mount`; empty, with the reason, where there is none.
    static QString sessionMemoryEvents(const QString& mount, QString* whyNot = nullptr);

    // The desktop entries that name an application from its unit (tests give their own).
    void setDesktopEntryDirs(std::vector<std::string> dirs);

private slots:
    void oomdKilled(const QString& cgroup, const QString& reason);

private:
    void eventsChanged();
    bool readKills(uint64_t& out) const;

    QString _eventsPath;
    TLFd _inotify;
    std::unique_ptr<QSocketNotifier> _notifier;
    uint64_t _kills = 0;
    std::optional<TLDesktopEntries> _entries;
};
