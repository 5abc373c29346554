#include "app/TLStatusItemUpdater.h"

#include "app/TLAppEnvironment.h"
#include "app/TLPreferences.h"
#include "app/TLStatusPresentation.h"
#include "format/TLFormat.h"

#include <algorithm>
#include <cmath>
#include <string_view>

TLStatusItemUpdater::ShownKey TLStatusItemUpdater::shownKey(const TLSystemStats& sample,
                                                            const DisplayChoices& d,
                                                            std::optional<TLAppearance> tray,
                                                            long fill) const {
    ShownKey key;
    char* out = key.text;
    const size_t size = sizeof key.text;
    size_t& n = key.length;
    auto put = [&](std::string_view s) {
        const size_t k = std::min(s.size(), size - 1 - n);
        std::memcpy(out + n, s.data(), k);
        n += k;
    };
    auto putBytes = [&](uint64_t bytes, bool shortForm) {
        n += shortForm ? TLFormatBytesShortTo(out + n, size - n, bytes)
                       : TLFormatBytesTo(out + n, size - n, bytes);
        put("|");
    };
    auto putFixed = [&](double v) {
        n += TLFormatFixedTo(out + n, size - n, v, 0);
        put("|");
    };
    const char flags[] = {
        static_cast<char>('0' +
                          std::clamp(static_cast<int64_t>(d.barMode), int64_t{-1}, int64_t{9})),
        static_cast<char>('0' +
                          std::clamp(static_cast<int64_t>(d.metric), int64_t{-1}, int64_t{9})),
        d.mono ? 'm' : 'c',
        d.showCPU ? 'C' : '-',
        !tray                         ? 'n'
        : *tray == TLAppearance::Dark ? 'd'
                                      : 'l',
        static_cast<char>('0' + std::clamp(TLPressureLevelValue(sample.pressureLevel), -1, 9)),
        _env.statusItem->showsTitleAsText() ? 'T' : 'p',
        '|'};
    put({flags, sizeof flags});
    putFixed(static_cast<double>(fill));
    putFixed(d.metric == TLPercentMetric::Pressure ? sample.pressurePercent : sample.usagePercent);
    if (d.showCPU) putFixed(sample.cpuPercent);
    putFixed(sample.pressurePercent);
    if (d.barMode == TLStatusBarMode::UsedOnly) putBytes(sample.used, true);
    for (uint64_t bytes : {sample.used, sample.total, sample.app, sample.wired, sample.compressed})
        putBytes(bytes, false);
    return key;
}

void TLStatusItemUpdater::update(const TLSystemStats& sample) {
    TLPreferences& prefs = *_env.preferences;
    // takeOutsideChange first: where the system gives no notices it looks at the file.
    if (prefs.takeOutsideChange() || !_display || prefs.generation() != _displayGeneration) {
        _displayGeneration = prefs.generation();
        _display = DisplayChoices{TLStatusBarMode{prefs.integerForKey(TLBarMode)},
                                  TLPercentMetric{prefs.integerForKey(TLMetric)},
                                  prefs.boolForKey(TLMono), prefs.boolForKey(TLShowCPU)};
    }
    const DisplayChoices& d = *_display;
    const std::optional<TLAppearance> tray =
        _env.trayAppearance ? _env.trayAppearance() : std::optional<TLAppearance>();
    // The gauge in whole percent, the steps of the figure beside it: half a pixel at the largest
    // icon size. The restless last digits of a machine's memory then redraw nothing.
    const long fill = std::lround(std::clamp(sample.usagePercent, 0.0, 100.0));

    // Most ticks change nothing the item shows: find that out before building any text.
    const ShownKey key = shownKey(sample, d, tray, fill);
    if (_hasShown && key == _shown) return;
    _shown = key;
    _hasShown = true;

    TLStatusPresentation p =
        TLComputeStatusPresentation(sample, d.barMode, d.metric, d.mono, d.showCPU);
    p.gaugeFraction = static_cast<double>(fill) / 100.0;
    showPicture(p, tray, fill);
    _env.statusItem->setTitle(p.title);
    _env.statusItem->setToolTip(p.toolTip);
}

void TLStatusItemUpdater::showPicture(const TLStatusPresentation& p,
                                      std::optional<TLAppearance> tray, long fill) {
    // Drawn in one go with its key; sent only when its pixels differ from the icon shown.
    const auto send = [this](const TLTrayIcon& icon) {
        if (_hasIcon && icon.key == _iconKey) return;
        _env.statusItem->setIcon(icon.icon, icon.key);
        _iconKey = icon.key;
        _hasIcon = true;
    };
    if (_env.statusItem->hasRoomBesideImage()) {
        // The menu bar has room for the gauge and the text side by side.
        send(TLMakeMenuBarIcon(TLMenuBarContentFor(p), tray));
    } else {
        TLTrayIconContent content = TLTrayIconContentFor(p);
        // Where the host shows the title as text beside the picture, the picture is the gauge.
        if (_env.statusItem->showsTitleAsText()) {
            content.figure.clear();
            content.cpu.clear();
        }
        // Where only the tool tip changed, the picture stays.
        const bool samePicture = _hasIcon && tray == _lastTray && fill == _lastFill &&
                                 content.figure == _lastContent.figure &&
                                 content.cpu == _lastContent.cpu &&
                                 content.gauge == _lastContent.gauge &&
                                 content.gaugeTemplate == _lastContent.gaugeTemplate &&
                                 content.gaugeColor == _lastContent.gaugeColor;
        if (!samePicture) {
            _lastContent = content;
            _lastTray = tray;
            _lastFill = fill;
            send(TLMakeTrayIcon(content, tray));
        }
    }
}
