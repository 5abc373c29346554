#include "panel/TLGrowthFigure.h"

#include "format/TLColor.h"
#include "format/TLFormat.h"
#include "panel/TLAccessible.h"
#include "widgets/TLFonts.h"
#include "widgets/TLSparkView.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <algorithm>
#include <cmath>

namespace {

int spannedMinutes(const TLGrowthSeries& series) {
    if (series.size() < 2) return 0;
    return std::max(1, static_cast<int>(std::lround((series.back().time - series[0].time) / 60)));
}

// The caption under the graph: the growth, or where the footprint went over the span.
QString caption(const TLGrowthTracker::Tracked& tracked) {
    const QString note = TLGrowthNote(tracked);
    if (!note.isEmpty()) return note;
    const TLGrowthSeries& s = tracked.series;
    return QStringLiteral("%1 分钟内：%2 → %3")
        .arg(spannedMinutes(s))
        .arg(TLFormatBytes(s[0].memory), TLFormatBytes(s.back().memory));
}

} // namespace

QString TLGrowthNote(const TLGrowthTracker::Tracked& tracked) {
    if (!tracked.verdict.growing) return {};
    return QStringLiteral("%1 分钟内增长 %2")
        .arg(spannedMinutes(tracked.series))
        .arg(TLFormatBytes(static_cast<uint64_t>(tracked.verdict.change)));
}

QList<double> TLGrowthGraphValues(const TLGrowthSeries& series) {
    QList<double> values;
    if (series.empty()) return values;
    uint64_t low = series[0].memory;
    uint64_t high = low;
    for (size_t i = 0; i < series.size(); ++i) {
        low = std::min(low, series[i].memory);
        high = std::max(high, series[i].memory);
    }
    // A floor a quarter of the range under the lowest, so that the lowest point is not on the
    // graph's edge.
    const double range = static_cast<double>(high - low);
    const double floor = std::max(0.0, static_cast<double>(low) - range / 4);
    const double span = static_cast<double>(high) - floor;
    for (size_t i = 0; i < series.size(); ++i)
        values << (span > 0 ? (static_cast<double>(series[i].memory) - floor) / span : 0.5);
    return values;
}

void TLAddGrowthGraph(QMenu* menu, const TLGrowthTracker::Tracked& tracked) {
    if (!menu || tracked.series.size() < 2) return;
    auto* box = new QWidget(menu);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(12, 4, 12, 4);
    layout->setSpacing(3);
    auto* graph = new TLSparkView(QRect(0, 0, 200, 32), box);
    graph->setFixedSize(200, 32);
    graph->setTint(tracked.verdict.growing ? TLSystemOrange() : TLColorApp());
    graph->setValues(TLGrowthGraphValues(tracked.series));
    graph->setSecondsPerValue(TLGrowthStep);
    auto* label = new QLabel(caption(tracked), box);
    label->setFont(TLSystemFont(11));
    label->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(graph);
    layout->addWidget(label);
    const QString text = QStringLiteral("内存历史，") + label->text();
    TLDescribeAccessible(graph, {.role = QAccessible::Chart, .name = [text] { return text; }});

    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(box);
    action->setText(text); // where the menu is read as items (exported menus)
    // After the heading and its separator, when there is one; then a separator of its own.
    const QList<QAction*> items = menu->actions();
    QAction* before = items.value(0);
    if (items.size() > 2 && items[1]->isSeparator()) before = items[2];
    menu->insertAction(before, action);
    menu->insertSeparator(before);
}
