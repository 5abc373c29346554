#include "platform/TLRendezvous.h"

#include "os/posix/TLFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

enum class Place { Serves, Missing, Refused };

// An absolute path from the environment; empty when unset, empty or relative.
QString absoluteVariable(const char* name) {
    const QByteArray value = qgetenv(name);
    return value.startsWith('/') ? QDir::cleanPath(QFile::decodeName(value)) : QString();
}

// This machine's name as a file name: letters, digits, '.', '-' and '_' only.
QString hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return QStringLiteral("host");
    QString host = QString::fromLatin1(name).left(64);
    for (QChar& c : host)
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-' && c != u'_') c = u'_';
    return host;
}

// Whether `dir` serves (see the header). The directory is opened without following a link, and
// what is checked and closed is the directory opened, whatever its path may name meanwhile.
Place checkDirectory(const QString& dir, bool own, bool make, QString& why) {
    const QByteArray path = QFile::encodeName(dir);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    TLFd fd(::open(path.constData(), flags));
    if (!fd.valid() && errno == ENOENT && own && make) {
        // One level of parent, for a cache directory not made yet.
        const QByteArray parent = QFile::encodeName(QFileInfo(dir).path());
        ::mkdir(parent.constData(), 0700);
        if (::mkdir(path.constData(), 0700) == 0 || errno == EEXIST)
            fd.reset(::open(path.constData(), flags));
    }
    struct stat st {};
    if (!fd.valid()) {
        if (errno == ENOENT) return Place::Missing;
        // Why, in words: another user's directory is most often one this user cannot open.
        const int error = errno;
        if (::lstat(path.constData(), &st) != 0 || S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
            why = QStringLiteral("a link or not a directory");
        else if (st.st_uid != ::getuid())
            why = QStringLiteral("owned by another user");
        else
            why = QString::fromLocal8Bit(std::strerror(error));
        return Place::Refused;
    }
    if (::fstat(fd.get(), &st) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return Place::Refused;
    }
    if (st.st_uid != ::getuid()) {
        why = QStringLiteral("owned by another user");
        return Place::Refused;
    }
    if ((st.st_mode & 0777) == 0700) return Place::Serves;
    if (own && make && ::fchmod(fd.get(), 0700) == 0) return Place::Serves;
    why = QStringLiteral("open to other users");
    return Place::Refused;
}

} // namespace

std::vector<TLRendezvousDir> TLRendezvousDirs() {
    const QString uid = QString::number(::getuid());
    std::vector<TLRendezvousDir> dirs;
    const QString runtime = absoluteVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) dirs.push_back({runtime, false, true});
#ifdef __linux__
    const QString session = QStringLiteral("/run/user/") + uid;
    if (runtime != session) dirs.push_back({session, false});
    const QString temp = QStringLiteral("/tmp");
#else
    const QString temp = QDir::cleanPath(QDir::tempPath());
#endif
    dirs.push_back({temp + QStringLiteral("/tide-") + uid, true});
    QString cache = absoluteVariable("XDG_CACHE_HOME");
    if (cache.isEmpty()) {
        const QString home = absoluteVariable("HOME");
        if (!home.isEmpty() && home != QStringLiteral("/"))
            cache = home + QStringLiteral("/.cache");
    }
    if (!cache.isEmpty()) dirs.push_back({cache + QStringLiteral("/tide-") + hostName(), true});
    return dirs;
}

TLRendezvous TLFindRendezvous(const QString& socketName, const std::vector<TLRendezvousDir>& dirs,
                              bool make) {
    TLRendezvous found;
    for (const TLRendezvousDir& dir : dirs) {
        const bool first = found.listenPath.isEmpty();
        const QString path = dir.path + u'/' + socketName;
        if (static_cast<size_t>(QFile::encodeName(path).size()) >= sizeof(sockaddr_un::sun_path)) {
            if (first) found.refused << dir.path + QStringLiteral(": too long a path for a socket");
            continue;
        }
        QString why;
        // Past the first that serves, directories are only looked at.
        const Place place = checkDirectory(dir.path, dir.own, make && first, why);
        if (place == Place::Refused && first)
            found.refused << dir.path + QStringLiteral(": ") + why;
        if (place != Place::Serves || found.lookPaths.contains(path)) continue;
        if (first) found.listenPath = path;
        found.lookPaths << path;
        if (first && dir.alone) break;
    }
    return found;
}
