#include "panel/TLPanelFigures.h"

#include "format/TLColor.h"
#include "format/TLFormat.h"
#include "panel/TLAccessible.h"
#include "panel/TLPanelView.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"

#include <QLabel>

namespace {

// A figure changes on every refresh and mostly keeps its size: its label is held at the size of
// its text, so that a new text of the same size repaints the label alone instead of laying its
// row or grid out again. A text of another size resizes it, and the layout follows.
void setFigure(QLabel* label, const QString& text) {
    if (label->text() == text) return;
    label->setText(text);
    const QSize fitted = label->sizeHint();
    if (label->minimumSize() != fitted || label->maximumSize() != fitted)
        label->setFixedSize(fitted);
}

} // namespace

QString TLPressureChipText(TLPressureLevel level) {
    if (TLPressureLevelValue(level) >= TLPressureLevelValue(TLPressureLevel::Critical))
        return QStringLiteral("压力严重");
    if (level == TLPressureLevel::Warning) return QStringLiteral("压力警告");
    return QStringLiteral("压力正常");
}

void TLShowSystemFigures(const TLPanelView& view, const TLSystemStats& s,
                         const std::vector<double>& history) {
    const TLColor pressure = TLPressureColor(s.pressureLevel);
    const TLColor pressureText = TLPressureTextColor(s.pressureLevel);
    // A new pressure level is said once (not the first one: the panel opening says it).
    const QString chipText = TLPressureChipText(s.pressureLevel);
    const QString before = view.chip->label()->text();
    view.chip->setText(chipText, pressureText);
    if (!before.isEmpty() && before != chipText)
        TLAnnounceAccessible(view.chip, QStringLiteral("内存压力：") + chipText.mid(2));

    setFigure(view.bigValue, TLFormatBytes(s.used));
    setFigure(view.totalValue, QStringLiteral("共 ") + TLFormatBytes(s.total));

    view.bar->setColors({TLColorApp(), TLColorWired(), TLColorCompressed(), TLColorCached()});
    const double d = s.total != 0 ? static_cast<double>(s.total) : 1.0;
    const uint64_t parts[] = {s.app, s.wired, s.compressed, s.cached};
    QList<double> fractions;
    for (uint64_t part : parts)
        fractions.append(static_cast<double>(part) / d);
    view.bar->setFractions(fractions);
    for (qsizetype i = 0; i < 4 && i < view.legendValues.size(); ++i)
        setFigure(view.legendValues[i], TLFormatBytes(parts[i]));

    setFigure(view.usageNow, TLFormatPercent(s.usagePercent));
    view.spark->setTint(pressure);
    view.spark->setValues(QList<double>(history.begin(), history.end()));
    setFigure(view.pressureValue, TLFormatPercent(s.pressurePercent));
    TLSetTextColor(view.pressureValue, pressureText);
    setFigure(view.swapValue, s.swapTotal != 0 ? TLFormatBytes(s.swapUsed) + QStringLiteral(" / ") +
                                                     TLFormatBytes(s.swapTotal)
                                               : QStringLiteral("未启用"));
    setFigure(view.cpuValue, TLFormatPercent(s.cpuPercent, 1));
}
