#include "platform/linux/TLKillWatch.h"

#include "os/linux/TLCgroups.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

QString systemError(const char* what, const QString& path, int error) {
    return QStringLiteral("%1 %2: %3")
        .arg(QString::fromLatin1(what), path, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

TLLinuxKillWatch::TLLinuxKillWatch(QObject* parent) : TLKillWatch(parent) {}

TLLinuxKillWatch::~TLLinuxKillWatch() {
    // The notifier goes before the descriptor it watches.
    _notifier.reset();
}

void TLLinuxKillWatch::setDesktopEntryDirs(std::vector<std::string> dirs) {
    _entries.emplace(std::move(dirs));
}

bool TLLinuxKillWatch::watchOomd(const QDBusConnection& bus, QString* whyNot) {
    if (!bus.isConnected()) {
        if (whyNot) *whyNot = QStringLiteral("no system bus for systemd-oomd");
        return false;
    }
    // The match holds whether or not systemd-oomd runs now: it is heard once it starts.
    QDBusConnection(bus).connect(
        QStringLiteral("org.freedesktop.oom1"), QStringLiteral("/org/freedesktop/oom1"),
        QStringLiteral("org.freedesktop.oom1.Manager"), QStringLiteral("Killed"), this,
        SLOT(oomdKilled(QString, QString)));
    return true;
}

void TLLinuxKillWatch::oomdKilled(const QString& cgroup, const QString& reason) {
    TLKillReport report;
    report.cause = reason == QLatin1String("memory-used") ? TLKillReport::Cause::SwapFull
                                                          : TLKillReport::Cause::MemoryPressure;
    report.cgroup = cgroup;
    const QByteArray path = cgroup.toUtf8();
    const std::string_view unit =
        TLCgroupLeaf({path.constData(), static_cast<size_t>(path.size())});
    if (!_entries) _entries.emplace(TLDesktopEntries::dirsFromEnvironment());
    TLAppIdentity app;
    if (TLAppOfUnit(unit, *_entries, app)) {
        report.appKey = QString::fromStdString(app.key);
        report.name = QString::fromStdString(app.name);
    } else {
        report.name = QString::fromUtf8(unit.data(), static_cast<qsizetype>(unit.size()));
    }
    emit killed(report);
}

QString TLLinuxKillWatch::sessionMemoryEvents(const QString& mount, QString* whyNot) {
    QFile self(QStringLiteral("/proc/self/cgroup"));
    const QByteArray text = self.open(QIODevice::ReadOnly) ? self.read(64 * 1024) : QByteArray();
    const std::string_view path =
        TLUnifiedCgroupPath({text.constData(), static_cast<size_t>(text.size())});
    const std::string_view session = TLSessionCgroup(path);
    if (session.empty()) {
        if (whyNot)
            *whyNot = path.empty() ? QStringLiteral("no cgroup v2 hierarchy (a cgroup v1 host)")
                                   : QStringLiteral("Tide runs in the root cgroup");
        return {};
    }
    const QString events =
        mount + QString::fromUtf8(session.data(), static_cast<qsizetype>(session.size())) +
        QStringLiteral("/memory.events");
    if (!QFile::exists(events)) {
        if (whyNot) *whyNot = QStringLiteral("no memory controller at %1").arg(events);
        return {};
    }
    return events;
}

bool TLLinuxKillWatch::readKills(uint64_t& out) const {
    const QByteArray file = _eventsPath.toLocal8Bit();
    TLFd fd(::open(file.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    std::array<char, 512> text{};
    const ssize_t n = ::read(fd.get(), text.data(), text.size() - 1);
    return n > 0 && TLParseOomKills({text.data(), static_cast<size_t>(n)}, out);
}

bool TLLinuxKillWatch::watchMemoryEvents(const QString& path, QString* whyNot) {
    _notifier.reset();
    _eventsPath = path;
    if (!readKills(_kills)) {
        if (whyNot) *whyNot = systemError("no oom_kill count in", path, errno);
        return false;
    }
    _inotify = TLFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    const QByteArray file = path.toLocal8Bit();
    if (!_inotify.valid() || ::inotify_add_watch(_inotify.get(), file.constData(), IN_MODIFY) < 0) {
        if (whyNot) *whyNot = systemError("cannot watch", path, errno);
        _inotify = TLFd();
        return false;
    }
    _notifier = std::make_unique<QSocketNotifier>(_inotify.get(), QSocketNotifier::Read);
    connect(_notifier.get(), &QSocketNotifier::activated, this, [this] { eventsChanged(); });
    return true;
}

void TLLinuxKillWatch::eventsChanged() {
    // Every event is read, so that the descriptor reads empty again.
    alignas(inotify_event) std::array<char, 4096> buffer;
    while (::read(_inotify.get(), buffer.data(), buffer.size()) > 0) {
    }
    uint64_t kills = 0;
    if (!readKills(kills)) return;
    // A count that went down is another cgroup's (the session's was made again): taken as is.
    const uint64_t added = kills > _kills ? kills - _kills : 0;
    _kills = kills;
    for (uint64_t i = 0; i < added && i < 16; ++i)
        emit killed(TLKillReport{});
}

std::unique_ptr<TLKillWatch> TLMakeKillWatch(QString* whyNot) {
    auto watch = std::make_unique<TLLinuxKillWatch>();
    QString oomdWhy, kernelWhy;
    const bool oomd = watch->watchOomd(QDBusConnection::systemBus(), &oomdWhy);
    const QString events =
        TLLinuxKillWatch::sessionMemoryEvents(QStringLiteral("/sys/fs/cgroup"), &kernelWhy);
    const bool kernel = !events.isEmpty() && watch->watchMemoryEvents(events, &kernelWhy);
    if (whyNot) {
        QStringList why;
        if (!oomd) why << oomdWhy;
        if (!kernel) why << kernelWhy;
        *whyNot = why.join(QStringLiteral("; "));
    }
    if (!oomd && !kernel) return nullptr;
    return watch;
}
