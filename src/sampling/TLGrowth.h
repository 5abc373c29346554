#pragma once
#include "sampling/TLProc.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Which processes keep growing: a short history of the footprint of the few largest processes
// and applications, a point a minute over the last ten minutes, and the rule that tells steady
// growth from a spike, a sawtooth or noise.

// How many processes, and how many applications, have a history.
inline constexpr size_t TLGrowthTracked = 32;
// The span of a history, and the least time between two of its points, in seconds (a point comes
// a little early when the sample that brings it does: the panel's samples are not on the minute).
inline constexpr double TLGrowthWindow = 600;
inline constexpr double TLGrowthStep = 60;
inline constexpr double TLGrowthStepSlack = 5;
// Growing: up in most steps, and by at least this much over the window.
inline constexpr uint64_t TLGrowthMinBytes = 200ULL << 20;
inline constexpr double TLGrowthMinFraction = 0.20;
// Fewest points (three steps) before anything is called growing.
inline constexpr size_t TLGrowthMinPoints = 4;

struct TLGrowthPoint {
    double time = 0;     // seconds, monotonic
    uint64_t memory = 0; // bytes
};

// A footprint over the window, oldest first, in a fixed place: keeping it allocates nothing.
class TLGrowthSeries {
public:
    // Eleven points span ten minutes; one more covers a sample that came a little early.
    static constexpr size_t kCapacity = 12;

    size_t size() const { return _size; }
    bool empty() const { return _size == 0; }
    const TLGrowthPoint& operator[](size_t i) const { return _points[i]; }
    const TLGrowthPoint& back() const { return _points[_size - 1]; }
    // Adds the newest point, dropping the oldest when full.
    void push(TLGrowthPoint point);
    // Drops the points older than `time`.
    void dropBefore(double time);

private:
    std::array<TLGrowthPoint, kCapacity> _points{};
    size_t _size = 0;
};

// What a history says. `change` is the last point less the first (negative when it fell).
struct TLGrowthVerdict {
    bool growing = false;
    int64_t change = 0;
};

// Growing when the history has at least four points, rose in more than half of its steps, rose
// by at least 200 MB and 20 % of where it started, and never fell from a peak by more than half
// of that rise (a heap that is collected now and then, as a sawtooth, is not a leak).
TLGrowthVerdict TLJudgeGrowth(const TLGrowthSeries& series);

// The histories, fed with every process sample (main thread). A sample adds a point when the
// last point is about a minute old; every sample updates what the largest processes were last
// seen using, which tells who went when the system ends one (applications are updated with the
// points only).
class TLGrowthTracker {
public:
    struct Tracked {
        // A process: its pid and start time; an application: its key (pid 0).
        int32_t pid = 0;
        uint64_t startTime = 0;
        std::string key;
        std::string name;    // as its row names it
        std::string appName; // a process's application, where the desktop names one
        uint64_t memory = 0; // when last seen
        TLGrowthSeries series;
        TLGrowthVerdict verdict;
    };

    // Whether a sample now would add a point (none yet, or the last is about a minute old).
    bool due(double now) const;
    // A process sample taken at `now`.
    void record(double now, const std::vector<TLProc>& procs);

    // The history of a process or an application among the tracked ones; null otherwise.
    const Tracked* process(int32_t pid, uint64_t startTime) const;
    const Tracked* app(const std::string& key) const;
    // The largest processes and applications as of the last sample, largest first.
    const std::vector<Tracked>& processes() const { return _procs; }
    const std::vector<Tracked>& apps() const { return _apps; }
    // When the last point was due (0 before the first): the time it was taken, or a little later
    // for one taken early.
    double lastPoint() const { return _lastPoint; }

private:
    double _lastPoint = 0;
    double _lastTaken = 0;
    bool _anyPoint = false;
    std::vector<Tracked> _procs;
    std::vector<Tracked> _apps;
};
