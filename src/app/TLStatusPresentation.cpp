#include "app/TLStatusPresentation.h"

#include "format/TLFormat.h"

TLStatusPresentation TLComputeStatusPresentation(const TLSystemStats& s, TLStatusBarMode barMode,
                                                 TLPercentMetric metric, bool mono, bool showCPU) {
    using Mode = TLStatusBarMode;
    TLStatusPresentation p;
    const double shown = metric == TLPercentMetric::Pressure ? s.pressurePercent : s.usagePercent;

    if (barMode == Mode::UsedOnly)
        p.title = TLFormatBytesShort(s.used);
    else if (barMode != Mode::GaugeOnly)
        p.title = TLFormatPercent(shown);
    if (!p.title.isEmpty() && showCPU)
        p.title += QStringLiteral(" · ") + TLFormatPercent(s.cpuPercent);

    p.showsGauge = barMode != Mode::PercentOnly && barMode != Mode::UsedOnly;
    p.gaugeColor = TLPressureColor(s.pressureLevel);
    p.gaugeTemplate = mono;
    p.gaugeFraction = s.usagePercent / 100.0;

    p.toolTip =
        QStringLiteral("已使用 %1 / %2   内存压力 %3\nApp %4 · 联动 %5 · 压缩 %6")
            .arg(TLFormatBytes(s.used), TLFormatBytes(s.total), TLFormatPercent(s.pressurePercent),
                 TLFormatBytes(s.app), TLFormatBytes(s.wired), TLFormatBytes(s.compressed));
    return p;
}
