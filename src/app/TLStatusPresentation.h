#pragma once
#include "format/TLColor.h"
#include "sampling/TLSystemStats.h"

#include <QString>

#include <cstdint>

// What the status item shows beside or instead of the gauge ("菜单栏显示"), by stored value. A
// value the program never writes shows the gauge and the percentage.
enum class TLStatusBarMode : int64_t {
    GaugeAndPercent = 0,
    PercentOnly = 1,
    UsedOnly = 2,
    GaugeOnly = 3
};
// What the percentage measures ("百分比"), by stored value; any other value reads as usage.
enum class TLPercentMetric : int64_t { Usage = 0, Pressure = 1 };

// What the status item shows for one sample and the four display preferences: the gauge (or
// none), the title text and the tool tip. Pure: the caller reads the preferences and applies it.
struct TLStatusPresentation {
    bool showsGauge = false;
    TLColor gaugeColor; // the pressure colour
    bool gaugeTemplate = false;
    double gaugeFraction = 0; // usage / 100, clamped by the gauge
    QString title;            // empty: no text
    QString toolTip;
};

TLStatusPresentation TLComputeStatusPresentation(const TLSystemStats& sample,
                                                 TLStatusBarMode barMode, TLPercentMetric metric,
                                                 bool mono, bool showCPU);
