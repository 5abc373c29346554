#pragma once
#include "sampling/TLGrowth.h"

#include <QList>
#include <QString>

class QMenu;

// What a row and its menu say of a process's (or an application's) recent footprint.

// "6 分钟内增长 300.0 MB" for a growing history, the minutes being those it spans; empty for one
// that is not growing.
QString TLGrowthNote(const TLGrowthTracker::Tracked& tracked);

// The history as the graph plots it: each footprint between a floor a little under the lowest and
// the highest (a flat history plots at half height).
QList<double> TLGrowthGraphValues(const TLGrowthSeries& series);

// Puts the history, as a small graph with its caption, above the commands of a row's menu (after
// its heading); nothing for a history of fewer than two points.
void TLAddGrowthGraph(QMenu* menu, const TLGrowthTracker::Tracked& tracked);
