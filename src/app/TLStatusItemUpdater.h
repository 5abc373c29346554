#pragma once
#include "app/TLTrayIcon.h"
#include "format/TLColor.h"
#include "sampling/TLSystemStats.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

struct TLAppEnvironment;
struct TLStatusPresentation;

// Shows each sample on the status item: its picture, title and tool tip. A sample that would show
// the same as the last one does nothing more, found out without allocating; a picture is drawn
// only when its figures changed and sent only when its pixels differ from the icon shown.
class TLStatusItemUpdater {
public:
    explicit TLStatusItemUpdater(const TLAppEnvironment& env) : _env(env) {}
    TLStatusItemUpdater(const TLStatusItemUpdater&) = delete;
    TLStatusItemUpdater& operator=(const TLStatusItemUpdater&) = delete;

    void update(const TLSystemStats& sample);

private:
    const TLAppEnvironment& _env;
    quint64 _iconKey = 0;
    bool _hasIcon = false;
    // The four display choices as the store held them at its generation _displayGeneration: read
    // again at the first update after any value was stored (by anyone in the program) or loaded
    // from a change made outside it.
    struct DisplayChoices {
        TLStatusBarMode barMode = TLStatusBarMode::GaugeAndPercent;
        TLPercentMetric metric = TLPercentMetric::Usage;
        bool mono = false;
        bool showCPU = false;
    };
    std::optional<DisplayChoices> _display;
    quint64 _displayGeneration = 0;
    // Everything the status item shows, written out without allocating: a tick that would show
    // the same does nothing more.
    struct ShownKey {
        char text[256] = {};
        size_t length = 0;
        bool operator==(const ShownKey& o) const {
            return length == o.length && std::memcmp(text, o.text, length) == 0;
        }
    };
    ShownKey shownKey(const TLSystemStats& sample, const DisplayChoices& d,
                      std::optional<TLAppearance> tray, long fill) const;
    // The picture for `p`: drawn only when its figures changed, sent only when its pixels differ.
    void showPicture(const TLStatusPresentation& p, std::optional<TLAppearance> tray, long fill);
    ShownKey _shown;
    bool _hasShown = false;
    TLTrayIconContent _lastContent; // what the tray icon was last drawn from
    std::optional<TLAppearance> _lastTray;
    long _lastFill = -1;
};
