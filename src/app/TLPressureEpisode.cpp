#include "app/TLPressureEpisode.h"

bool TLPressureEpisode::observe(TLPressureLevel level, double now) {
    if (TLPressureIsCritical(level)) {
        _calmSince.reset();
        if (!_armed) return false;
        _armed = false;
        return true;
    }
    if (_armed) return false;
    if (!_calmSince || now < *_calmSince) _calmSince = now; // (a clock that went back restarts)
    if (now - *_calmSince >= kRearmSeconds) {
        _armed = true;
        _calmSince.reset();
    }
    return false;
}
