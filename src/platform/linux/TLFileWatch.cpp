#include "platform/TLFileWatch.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// inotify on the file, for writes in place, and on its directory, for the file being created,
// replaced by a rename or removed. A replaced file is a new file: its watch is added again
// after every change of the name.
class InotifyFileWatch final : public TLFileWatch {
public:
    InotifyFileWatch(int fd, int dirWatch, QByteArray file, QByteArray name,
                     std::function<void()> changed)
        : _fd(fd), _dirWatch(dirWatch), _file(std::move(file)), _name(std::move(name)),
          _changed(std::move(changed)), _notifier(fd, QSocketNotifier::Read) {
        watchFile();
        QObject::connect(&_notifier, &QSocketNotifier::activated, &_notifier,
                         [this] { readEvents(); });
    }
    ~InotifyFileWatch() override { ::close(_fd); }

private:
    void watchFile() { _fileWatch = ::inotify_add_watch(_fd, _file.constData(), IN_CLOSE_WRITE); }

    void readEvents() {
        alignas(inotify_event) char buf[4096];
        bool ours = false;
        for (;;) {
            const ssize_t n = ::read(_fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                if (e->mask & IN_Q_OVERFLOW) {
                    ours = true;
                } else if (e->wd == _dirWatch) {
                    ours = ours || (e->len > 0 && std::strcmp(e->name, _name.constData()) == 0);
                } else if (e->wd == _fileWatch) {
                    ours = ours || (e->mask & IN_CLOSE_WRITE) != 0;
                    if (e->mask & IN_IGNORED) _fileWatch = -1; // the file is gone
                }
            }
        }
        if (!ours) return;
        // Watched again before it is read: a write from now on brings another notice.
        watchFile();
        _changed();
    }

    int _fd;
    int _dirWatch;
    int _fileWatch = -1;
    QByteArray _file, _name;
    std::function<void()> _changed;
    QSocketNotifier _notifier;
};

} // namespace

std::unique_ptr<TLFileWatch> TLWatchFile(const QString& path, std::function<void()> changed) {
    const QFileInfo info(path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    const int dirWatch = ::inotify_add_watch(
        fd, dir.constData(), IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
    if (dirWatch < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<InotifyFileWatch>(
        fd, dirWatch, QFile::encodeName(info.absoluteFilePath()),
        QFile::encodeName(info.fileName()), std::move(changed));
}
