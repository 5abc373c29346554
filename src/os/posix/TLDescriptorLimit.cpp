#include "os/TLDescriptorLimit.h"

#include <sys/resource.h>

#include <algorithm>
#include <mutex>

namespace {

struct State {
    std::mutex mutex;
    rlim_t startSoft = 0;  // the soft limit found, before it was raised
    rlim_t raisedSoft = 0; // the soft limit set; 0 while nothing was raised
    int children = 0;      // scopes open now
};

State& state() {
    static State s;
    return s;
}

bool setSoft(rlim_t soft) {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
    files.rlim_cur = soft;
    return ::setrlimit(RLIMIT_NOFILE, &files) == 0;
}

} // namespace

size_t TLRaiseDescriptorLimit(size_t wanted) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return 0;
    const size_t soft =
        files.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(files.rlim_cur);
    // Not while a program is being started with the limit it must get.
    if (soft >= wanted || s.children > 0) return soft;
    const rlim_t target = files.rlim_max == RLIM_INFINITY
                              ? static_cast<rlim_t>(wanted)
                              : std::min<rlim_t>(files.rlim_max, static_cast<rlim_t>(wanted));
    if (target <= files.rlim_cur) return soft;
    const rlim_t before = files.rlim_cur;
    files.rlim_cur = target;
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0) return soft;
    if (s.raisedSoft == 0) s.startSoft = before;
    s.raisedSoft = target;
    return static_cast<size_t>(target);
}

TLChildDescriptorLimit::TLChildDescriptorLimit() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.children++ == 0 && s.raisedSoft != 0) setSoft(s.startSoft);
}

TLChildDescriptorLimit::~TLChildDescriptorLimit() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (--s.children == 0 && s.raisedSoft != 0) setSoft(s.raisedSoft);
}
