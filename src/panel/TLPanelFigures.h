#pragma once
#include "sampling/TLSystemStats.h"

#include <QString>

#include <cstdint>
#include <vector>

struct TLPanelView;

// The chip text of a pressure level: "压力严重" from critical up, "压力警告" for warning, else
// "压力正常".
QString TLPressureChipText(TLPressureLevel level);

// Puts a system sample and the usage history (fractions 0 … 1, oldest first) on the built views
// of `view`: the pressure chip, used and total memory, the composition bar and its legend, usage
// and its history, pressure, swap and CPU. It lays nothing out: a figure whose text keeps its
// size repaints its label alone, one of another size asks its row or grid for a new layout.
void TLShowSystemFigures(const TLPanelView& view, const TLSystemStats& stats,
                         const std::vector<double>& history);
