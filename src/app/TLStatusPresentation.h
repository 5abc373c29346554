#pragma once
#include "format/TLColor.h"
#include "sampling/TLSystemStats.h"

#include <QString>

#include <cstdint>

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

TLStatusPresentation TLComputeStatusPresentation(const TLSystemStats& sample, int64_t barMode,
                                                 int64_t metric, bool mono, bool showCPU);
