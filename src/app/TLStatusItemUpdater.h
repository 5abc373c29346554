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

// Shows each sample on the status item: its picture, title and tool tip. A sample that would show
// the same as the last one does nothing more, found out without allocating; a picture is drawn
// only when its figures changed and sent only when its pixels differ from the icon shown.
class TLStatusItemUpdater {
public:
    explicit TLStatusItemUpdater(const TLAppEnvironment& env) : _env(env) {}
    TLStatusItemUpdater(const TLStatusItemUpdater&) = delete;
    TLStatusItemUpdater& operator=(const TLStatusItemUpdater&) = delete;

    void update(const TLSystemStats& sample);
    // A display choice changed in the preferences: they are read again at the next update.
    void displayChoicesChanged() { _display.reset(); }

private:
    const TLAppEnvironment& _env;
    quint64 _iconKey = 0;
    bool _hasIcon = false;
    // The four display choices, read once and again after the settings menu or a change made
    // outside the program changed one.
    struct DisplayChoices {
        TLStatusBarMode barMode = TLStatusBarMode::GaugeAndPercent;
        TLPercentMetric metric = TLPercentMetric::Usage;
        bool mono = false;
        bool showCPU = false;
    };
    std::optional<DisplayChoices> _display;
    // Everything the status item shows, written out without allocating: a tick that would show
    // the same does nothing more.
    struct ShownKey {
        char text[256] = {};
        size_t length = 0;
        bool operator==(const ShownKey& o) const {
            return length == o.length && std::memcmp(text, o.text, length) == 0;
        }
    };
    ShownKey _shown;
    bool _hasShown = false;
    TLTrayIconContent _lastContent; // what the tray icon was last drawn from
    std::optional<TLAppearance> _lastTray;
    long _lastFill = -1;
};
