#include "app/TLTrayAppearanceCheck.h"

TLTrayAppearanceCheck::TLTrayAppearanceCheck(std::function<QColor()> barBackground,
                                             std::function<std::optional<TLAppearance>()> declared,
                                             std::function<double()> now)
    : _barBackground(std::move(barBackground)), _declared(std::move(declared)),
      _now(std::move(now)) {
    _cached = _declared();
    _declaredAt = _now();
}

std::optional<TLAppearance> TLTrayAppearanceCheck::operator()() {
    const double t = _now();
    const bool stale = _stale;
    _stale = false;
    if (_seen && !stale && t - _checked < kRecheckSeconds) return _cached;
    const QColor background = _barBackground();
    _seen = background.isValid();
    if (_seen) {
        _checked = t;
        _cached = background.lightnessF() < 0.5 ? TLAppearance::Dark : TLAppearance::Light;
    } else if (stale || t - _declaredAt >= kRecheckSeconds) {
        _declaredAt = t;
        _cached = _declared();
    }
    return _cached;
}
