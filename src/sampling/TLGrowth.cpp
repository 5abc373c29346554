#include "sampling/TLGrowth.h"

#include "sampling/TLAppGroups.h"

#include <algorithm>
#include <utility>

void TLGrowthSeries::push(TLGrowthPoint point) {
    if (_size == kCapacity) {
        std::move(_points.begin() + 1, _points.end(), _points.begin());
        --_size;
    }
    _points[_size++] = point;
}

void TLGrowthSeries::dropBefore(double time) {
    size_t first = 0;
    while (first < _size && _points[first].time < time)
        ++first;
    if (first == 0) return;
    std::move(_points.begin() + static_cast<std::ptrdiff_t>(first),
              _points.begin() + static_cast<std::ptrdiff_t>(_size), _points.begin());
    _size -= first;
}

TLGrowthVerdict TLJudgeGrowth(const TLGrowthSeries& series) {
    TLGrowthVerdict verdict;
    if (series.size() < 2) return verdict;
    const uint64_t first = series[0].memory;
    const uint64_t last = series.back().memory;
    verdict.change =
        last >= first ? static_cast<int64_t>(last - first) : -static_cast<int64_t>(first - last);
    if (series.size() < TLGrowthMinPoints || last <= first) return verdict;
    size_t rises = 0;
    uint64_t peak = first;
    uint64_t deepestFall = 0;
    for (size_t i = 1; i < series.size(); ++i) {
        const uint64_t m = series[i].memory;
        rises += m > series[i - 1].memory;
        peak = std::max(peak, m);
        deepestFall = std::max(deepestFall, peak - m);
    }
    const uint64_t rise = last - first;
    const size_t steps = series.size() - 1;
    verdict.growing =
        2 * rises > steps && rise >= TLGrowthMinBytes &&
        static_cast<double>(rise) >= TLGrowthMinFraction * static_cast<double>(first) &&
        2 * deepestFall <= rise;
    return verdict;
}

namespace {

using Tracked = TLGrowthTracker::Tracked;

// The `count` largest of `procs` by memory, largest first.
std::vector<const TLProc*> largest(const std::vector<TLProc>& procs, size_t count) {
    std::vector<const TLProc*> order;
    order.reserve(procs.size());
    for (const TLProc& p : procs)
        order.push_back(&p);
    const auto bigger = [](const TLProc* a, const TLProc* b) {
        return a->memory != b->memory ? a->memory > b->memory : a->pid < b->pid;
    };
    const size_t kept = std::min(count, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(),
                      bigger);
    order.resize(kept);
    return order;
}

// Carries the tracked entries of `before` that are still among the largest into the new list,
// and adds a point to each when one is due. Applications are known by their key, processes by
// their pid and start time.
std::vector<Tracked> carry(std::vector<Tracked>& before, const std::vector<const TLProc*>& top,
                           bool apps, double now, bool point) {
    std::vector<Tracked> next;
    next.reserve(top.size());
    for (const TLProc* p : top) {
        Tracked entry;
        std::string key = apps ? TLAppKeyOf(*p) : std::string();
        const auto old = std::find_if(before.begin(), before.end(), [&](const Tracked& t) {
            return apps ? t.key == key : t.pid == p->pid && t.startTime == p->startTime;
        });
        if (old != before.end()) entry = std::move(*old);
        entry.pid = apps ? 0 : p->pid;
        entry.startTime = apps ? 0 : p->startTime;
        entry.key = std::move(key);
        entry.name = p->name;
        entry.appName = p->app && !p->app->id.empty() ? p->app->name : std::string();
        entry.memory = p->memory;
        if (point) {
            entry.series.dropBefore(now - TLGrowthWindow - TLGrowthStepSlack);
            entry.series.push({now, p->memory});
            entry.verdict = TLJudgeGrowth(entry.series);
        }
        next.push_back(std::move(entry));
    }
    return next;
}

} // namespace

bool TLGrowthTracker::due(double now) const {
    return !_anyPoint || now - _lastPoint >= TLGrowthStep - TLGrowthStepSlack ||
           now < _lastTaken; // a clock that went back: go on from here
}

void TLGrowthTracker::record(double now, const std::vector<TLProc>& procs) {
    const bool point = due(now);
    if (point) {
        // A point that came a little early counts as on time, so that early ones do not add up
        // to more than one a minute.
        _lastPoint =
            _anyPoint && now >= _lastTaken ? std::max(now, _lastPoint + TLGrowthStep) : now;
        _lastTaken = now;
        _anyPoint = true;
    }
    _procs = carry(_procs, largest(procs, TLGrowthTracked), false, now, point);
    // Applications, which take grouping the whole sample, only when a point is due.
    if (!point) return;
    const std::vector<TLProc> totals = TLAppTotals(TLGroupByApp(procs));
    _apps = carry(_apps, largest(totals, TLGrowthTracked), true, now, point);
}

const Tracked* TLGrowthTracker::process(int32_t pid, uint64_t startTime) const {
    for (const Tracked& t : _procs)
        if (t.pid == pid && t.startTime == startTime) return &t;
    return nullptr;
}

const Tracked* TLGrowthTracker::app(const std::string& key) const {
    for (const Tracked& t : _apps)
        if (t.key == key) return &t;
    return nullptr;
}
