#include "app/TLStatusPresentation.h"

#include "format/TLFormat.h"

TLStatusPresentation TLComputeStatusPresentation(const TLSystemStats& s, int64_t barMode,
                                                 int64_t metric, bool mono, bool showCPU) {
    TLStatusPresentation p;
    const double shown = metric == 1 ? s.pressurePercent : s.usagePercent;

    if (barMode == 2)
        p.title = TLFormatBytesShort(s.used);
    else if (barMode != 3)
        p.title = TLFormatPercent(shown);
    if (!p.title.isEmpty() && showCPU)
        p.title += QStringLiteral(" · ") + TLFormatPercent(s.cpuPercent);

    p.showsGauge = barMode != 1 && barMode != 2;
    p.gaugeColor = TLPressureColor(s.pressureLevel);
    p.gaugeTemplate = mono;
    p.gaugeFraction = s.usagePercent / 100.0;

    p.toolTip =
        QStringLiteral("已使用 %1 / %2   内存压力 %3\nApp %4 · 联动 %5 · 压缩 %6")
            .arg(TLFormatBytes(s.used), TLFormatBytes(s.total), TLFormatPercent(s.pressurePercent),
                 TLFormatBytes(s.app), TLFormatBytes(s.wired), TLFormatBytes(s.compressed));
    return p;
}
