#pragma once
#include "os/TLPressureLevel.h"

#include <optional>

// When memory pressure deserves a notification: the moment the level turns critical, once per
// episode. An episode ends only after the level has stayed below critical for kRearmSeconds, so
// a level that flaps around the threshold warns once, not at every crossing.
//
// Plain logic over the readings it is given and their times (seconds on any monotonic clock); it
// allocates nothing, so it can sit in the sampling tick.
class TLPressureEpisode {
public:
    static constexpr double kRearmSeconds = 60.0;

    // One reading of the level at `now`. True when it starts a new episode: tell the user now.
    bool observe(TLPressureLevel level, double now);

    // Whether the next critical reading starts an episode.
    bool armed() const { return _armed; }

private:
    bool _armed = true;
    // The first reading below critical since the last critical one, while disarmed.
    std::optional<double> _calmSince;
};

// The chip's rule: red at the critical level, and at no other value a kernel reports.
constexpr bool TLPressureIsCritical(TLPressureLevel level) {
    return level == TLPressureLevel::Critical;
}
