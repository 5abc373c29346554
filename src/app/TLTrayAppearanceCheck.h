#pragma once
#include "format/TLColor.h"

#include <QColor>

#include <functional>
#include <optional>

// Whether the bar the tray icon sits on is light or dark, for the icon's colours: the bar's own
// pixels where the host lets them be read (an XEmbed tray), else what the desktop declares. Both
// cost a round trip (a grab of the screen, a call to the desktop portal), so the answer is kept
// and looked for again only after kRecheckSeconds, or at once after `recheck()`: the desktop told
// of a change of its colours. Until the bar's pixels have been read once, they are tried at every
// call (a tray icon that has no place yet has none), and the declared colours every
// kRecheckSeconds.
class TLTrayAppearanceCheck {
public:
    static constexpr double kRecheckSeconds = 300;

    TLTrayAppearanceCheck(std::function<QColor()> barBackground,
                          std::function<std::optional<TLAppearance>()> declared,
                          std::function<double()> now);

    std::optional<TLAppearance> operator()();
    void recheck() { _stale = true; }

private:
    std::function<QColor()> _barBackground;
    std::function<std::optional<TLAppearance>()> _declared;
    std::function<double()> _now;
    std::optional<TLAppearance> _cached;
    double _checked = 0;
    double _declaredAt = 0;
    bool _seen = false;
    bool _stale = false;
};
