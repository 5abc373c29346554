#pragma once
#include <QString>

#include <functional>
#include <memory>

// Notice of changes to one file, delivered on the thread that asked for it (which runs an event
// loop) for as long as the object lives.
class TLFileWatch {
public:
    virtual ~TLFileWatch() = default;
};

// Calls `changed` when the file at `path` may have changed: written and closed, replaced by a
// rename (as editors and atomic writers save), created or removed; a change of another file in
// the same directory may call it too. Nothing runs while nothing happens. Null where the system
// cannot tell without looking from time to time.
std::unique_ptr<TLFileWatch> TLWatchFile(const QString& path, std::function<void()> changed);
