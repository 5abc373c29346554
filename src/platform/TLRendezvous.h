#pragma once
#include <QString>
#include <QStringList>

#include <vector>

// Where the copies of one user find each other: a socket file in a directory only this user can
// enter, so that no other user can take its name first.
//
// The directories, in order: $XDG_RUNTIME_DIR, which when it serves is the only one (the
// session's own place, so that a session, or a test, with a runtime directory of its own meets no
// copy elsewhere); without it, /run/user/UID, where a login session's runtime directory is, for a
// start without the variable (from cron or a bare ssh, say); then two of
// Tide's own, made when missing: tide-UID in the temporary directory (/tmp; on macOS the user's
// own $TMPDIR), and tide-HOST in the user's cache directory (${XDG_CACHE_HOME:-~/.cache}), named
// after the machine because one home directory may serve several. Another user can make
// /tmp/tide-UID first; then it is passed over, for every start of this user alike, and the cache
// directory serves.
//
// A directory serves when it is a directory itself (not a link to one), this user's, and closed
// to group and others. One of Tide's own that this user owns but has opened to others is closed
// again: only its owner can have opened it, and whatever another user may have left in it
// meanwhile is not trusted (TLSingleInstance replaces anything at the socket's name that is not
// this user's socket, and believes only a listener of this user).
struct TLRendezvousDir {
    QString path;
    bool own = false;   // one of Tide's own: made when missing and closed when found open
    bool alone = false; // when it serves, no later directory is looked at
};

// The directories to try, from the environment.
std::vector<TLRendezvousDir> TLRendezvousDirs();

struct TLRendezvous {
    // Where this copy listens: `socketName` in the first directory that serves and where the
    // socket's path fits in a socket address. Empty when there is none.
    QString listenPath;
    // Where a running copy may listen: listenPath, then (unless its directory is `alone`)
    // `socketName` in each later directory that serves, since a copy started while an earlier one
    // did not serve listens there.
    QStringList lookPaths;
    // The directories before listenPath that are there but do not serve, each with the reason.
    QStringList refused;
};

// Looks through `dirs`. With `make`, Tide's own directories are made and closed as needed on the
// way to the first that serves; without, nothing is changed (a start that only sends a request).
TLRendezvous TLFindRendezvous(const QString& socketName, const std::vector<TLRendezvousDir>& dirs,
                              bool make);
