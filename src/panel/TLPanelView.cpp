#include "panel/TLPanelView.h"

#include "format/TLColor.h"
#include "panel/TLAccessible.h"
#include "panel/TLPanelControls.h"
#include "platform/TLPlatformTexts.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLFonts.h"
#include "widgets/TLProcList.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"
#include "widgets/TLTextLabel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

// Main column: insets and the space after each of the fourteen items (the last has none).
constexpr int kInsetSide = 14;
constexpr int kInsetTop = 12;
constexpr int kInsetBottom = 11;
constexpr int kRowSpacing = 6;     // between the views of a horizontal row
constexpr int kGridRowSpacing = 3; // 3.5 in the design; layouts place whole points
constexpr int kGridColumnSpacing = 8;

QLabel* makeLabel(const QString& text, const QFont& font, const TLColor& color,
                  Qt::Alignment alignment = Qt::AlignLeft) {
    auto* label = new TLTextLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setWordWrap(false);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    TLSetTextColor(label, color);
    return label;
}

// A horizontal row of views, centred vertically, 6 apart; a null entry is the spacer that takes
// all spare width and pushes the views after it to the right edge.
QWidget* makeRow(const QList<QWidget*>& views) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kRowSpacing);
    for (QWidget* view : views) {
        if (!view) {
            auto* spacer = new QWidget;
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
            layout->addWidget(spacer, 1);
        } else {
            layout->addWidget(view, 0, Qt::AlignVCenter);
        }
    }
    return row;
}

// A two-column grid: captions at the leading edge, values at the trailing edge of the column.
QWidget* makeGrid(const QList<std::pair<QWidget*, QWidget*>>& lines) {
    auto* grid = new QWidget;
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setVerticalSpacing(kGridRowSpacing);
    layout->setHorizontalSpacing(kGridColumnSpacing);
    layout->setColumnStretch(0, 1);
    for (int i = 0; i < lines.size(); ++i) {
        layout->addWidget(lines[i].first, i, 0, Qt::AlignLeft | Qt::AlignVCenter);
        layout->addWidget(lines[i].second, i, 1, Qt::AlignRight | Qt::AlignVCenter);
    }
    return grid;
}

} // namespace

QString TLPanelTitle(const TLAppInfo& info) {
    return TLDisplayName(info);
}

QString TLPanelVersionText(const TLAppInfo& info) {
    if (info.author.isEmpty()) return QStringLiteral("v") + info.version;
    return info.author + QStringLiteral(" · v") + info.version;
}

QWidget* TLPanelView::build(const TLAppInfo& info, int selectedSegment) {
    QWidget* root = makeRoot();
    buildFigures(info);
    const QList<std::pair<QWidget*, QWidget*>> legend = buildLegend();
    buildUsage();
    buildProcesses(selectedSegment);
    buildFooter(info);
    describe(root, legend);
    return root;
}

QWidget* TLPanelView::makeRoot() {
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("TLPanel"));
    root->setGeometry(0, 0, TLPanelWidth, 500);

    column = new QVBoxLayout(root);
    column->setContentsMargins(kInsetSide, kInsetTop, kInsetSide, kInsetBottom);
    column->setSpacing(0);
    // The root is 322 wide (294 + the insets) and exactly as high as its content.
    column->setSizeConstraint(QLayout::SetFixedSize);
    return root;
}

void TLPanelView::add(QWidget* item, int spaceAfter) {
    item->setFixedWidth(TLPanelColumnWidth);
    column->addWidget(item, 0, Qt::AlignLeft);
    if (spaceAfter > 0) column->addSpacing(spaceAfter);
    columnItems.append(item);
}

void TLPanelView::buildFigures(const TLAppInfo& info) {
    // 1. Header: title, spacer, pressure chip.
    title = makeLabel(TLPanelTitle(info), TLSystemFont(13, QFont::DemiBold), TLLabelColor());
    chip = new TLChip;
    add(makeRow({title, nullptr, chip}), 7);

    // 2. Used memory, spacer, total.
    bigValue = makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(27, QFont::Medium),
                         TLLabelColor());
    totalValue = makeLabel(QString(), TLSystemFont(11, QFont::Medium), TLSecondaryLabelColor(),
                           Qt::AlignRight);
    add(makeRow({bigValue, nullptr, totalValue}), 9);

    // 3. Composition bar.
    bar = new TLStackedBarView(QRect(0, 0, TLPanelColumnWidth, 10));
    bar->setFixedHeight(10);
    add(bar, 10);
}

QList<std::pair<QWidget*, QWidget*>> TLPanelView::buildLegend() {
    // 4. Legend.
    const QList<std::pair<QString, TLColor>> categories = {
        {QStringLiteral("App 内存"), TLColorApp()},
        {QStringLiteral("联动内存"), TLColorWired()},
        {QStringLiteral("被压缩"), TLColorCompressed()},
        {QStringLiteral("已缓存文件"), TLColorCached()}};
    QList<std::pair<QWidget*, QWidget*>> legend;
    for (const auto& [name, color] : categories) {
        QLabel* value = makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(11.5),
                                  TLLabelColor(), Qt::AlignRight);
        legendValues.append(value);
        legend.append({new TLLegendCaption(name, color), value});
    }
    add(makeGrid(legend), 10);
    return legend;
}

void TLPanelView::buildUsage() {
    // 5. Separator.
    add(new TLSeparatorLine, 9);

    // 6. Usage: caption, spacer, percentage.
    usageNow = makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(11.5, QFont::Medium),
                         TLLabelColor());
    add(makeRow({makeLabel(QStringLiteral("内存使用率"), TLSystemFont(11, QFont::Medium),
                           TLSecondaryLabelColor()),
                 nullptr, usageNow}),
        7);

    // 7. Usage history.
    spark = new TLSparkView(QRect(0, 0, TLPanelColumnWidth, 40));
    spark->setFixedHeight(40);
    add(spark, 9);

    // 8. Pressure, swap and CPU.
    auto caption = [](const QString& text) {
        return makeLabel(text, TLSystemFont(11, QFont::Medium), TLSecondaryLabelColor());
    };
    auto figure = [] {
        return makeLabel(QStringLiteral("--"), TLMonospacedDigitSystemFont(11.5), TLLabelColor(),
                         Qt::AlignRight);
    };
    pressureValue = figure();
    swapValue = figure();
    cpuValue = figure();
    figureCaptions = {{caption(QStringLiteral("内存压力")), pressureValue},
                      {caption(QStringLiteral("交换空间")), swapValue},
                      {caption(QStringLiteral("CPU 总占用")), cpuValue}};
    add(makeGrid({figureCaptions.begin(), figureCaptions.end()}), 10);
}

void TLPanelView::buildProcesses(int selectedSegment) {
    // 9. Separator.
    add(new TLSeparatorLine, 9);

    // 10. Tabs.
    seg = new TLSegmentedControl({QStringLiteral("内存占用"), QStringLiteral("能耗")});
    seg->setSelectedSegment(selectedSegment);
    add(seg, 6);

    // 11. Process rows, all hidden until the controller shows as many as it keeps.
    rowsStack = new TLProcList;
    for (int i = 0; i < TLPanelRowCapacity; ++i) {
        auto* row = new TLProcRow(QRect(0, 0, TLPanelColumnWidth, TLPanelRowHeight));
        row->setFixedSize(TLPanelColumnWidth, TLPanelRowHeight);
        row->setHidden(true);
        rowsStack->addRow(row);
        rows.append(row);
    }
    add(rowsStack, 8);

    // 12. Note under the list; it keeps its line while empty.
    footNote =
        makeLabel(TLThisPlatformTexts().footNoteMemory, TLSystemFont(9.5), TLTertiaryLabelColor());
    footNote->setFixedHeight(footNote->sizeHint().height());
    footNote->clear();
    add(footNote, 8);
}

void TLPanelView::buildFooter(const TLAppInfo& info) {
    // 13. Separator.
    add(new TLSeparatorLine, 8);

    // 14. Footer: system monitor, spacer, version, gear.
    activityMonitor = new TLBezelButton(QStringLiteral("打开活动监视器"));
    version = makeLabel(TLPanelVersionText(info), TLSystemFont(9.5), TLTertiaryLabelColor());
    gear = new TLBezelButton(TLBezelButton::Image::Action);
    gear->setFixedWidth(30);
    add(makeRow({activityMonitor, nullptr, version, gear}), 0);
}

namespace {

// "3%" → 3; nothing for a figure that is not a percentage ("--" before the first sample).
std::optional<double> percentOf(const QString& text) {
    QString digits = text.trimmed();
    if (!digits.endsWith(QLatin1Char('%'))) return std::nullopt;
    digits.chop(1);
    bool ok = false;
    const double value = digits.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

// "3 分钟", "90 秒", "1 分 30 秒"
QString spanText(double seconds) {
    const long total = std::lround(seconds);
    if (total < 60) return QStringLiteral("%1 秒").arg(total);
    if (total % 60 == 0) return QStringLiteral("%1 分钟").arg(total / 60);
    return QStringLiteral("%1 分 %2 秒").arg(total / 60).arg(total % 60);
}

} // namespace

// What a screen reader reads: names made when it asks, from what the panel shows then.
void TLPanelView::describe(QWidget* root, const QList<std::pair<QWidget*, QWidget*>>& legend) {
    describeHeader(root);
    describeComposition(legend);
    describeUsage();
    describeTabs();
    describeRows();
    describeQuietLabels();
    announceRowFocus();
    gear->setAccessibleName(QStringLiteral("设置"));
}

void TLPanelView::describeHeader(QWidget* root) {
    root->setAccessibleName(title->text());
    TLDescribeAccessible(chip, {.name =
                                    [c = chip] {
                                        QString state = c->label()->text();
                                        if (state.startsWith(QStringLiteral("压力")))
                                            state = state.mid(2);
                                        return QStringLiteral("内存压力：") + state;
                                    },
                                .leaf = true});
    // The used figure and its total are read as one: "已使用 1.41 GB，共 23.54 GB".
    TLDescribeAccessible(bigValue->parentWidget(),
                         {.name =
                              [used = bigValue, total = totalValue] {
                                  return QStringLiteral("已使用 ") + used->text() +
                                         QStringLiteral("，") + total->text();
                              },
                          .leaf = true});
}

void TLPanelView::describeComposition(const QList<std::pair<QWidget*, QWidget*>>& legend) {
    // The composition bar: its four shares, as the legend lists them.
    QStringList captions;
    for (const auto& line : legend)
        captions << static_cast<TLLegendCaption*>(line.first)->name();
    TLDescribeAccessible(
        bar, {.role = QAccessible::Graphic, .name = [captions, values = legendValues] {
                  QStringList parts;
                  for (qsizetype i = 0; i < captions.size() && i < values.size(); ++i)
                      parts << captions[i] + QLatin1Char(' ') + values[i]->text();
                  return QStringLiteral("内存构成：") + parts.join(QStringLiteral("，"));
              }});
    for (qsizetype i = 0; i < legend.size() && i < legendValues.size(); ++i) {
        const QString caption = captions[i];
        TLDescribeAccessible(legend[i].first, {.name = [caption] { return caption; }});
        TLDescribeAccessible(legendValues[i],
                             {.name = [value = legendValues[i]] { return value->text(); },
                              .labelledBy = legend[i].first});
    }
}

void TLPanelView::describeUsage() {
    // The usage as a value from 0 to 100, as a progress bar.
    TLDescribeAccessible(usageNow, {.role = QAccessible::ProgressBar,
                                    .name = [] { return QStringLiteral("内存使用率"); },
                                    .value = [u = usageNow] { return percentOf(u->text()); },
                                    .valueText = [u = usageNow] { return u->text(); }});
    // The history: the span it shows, and the usage now, at its lowest and at its highest.
    TLDescribeAccessible(
        spark,
        {.role = QAccessible::Chart, .name = [s = spark] {
             const QList<double>& values = s->values();
             if (values.isEmpty()) return QStringLiteral("内存使用率历史：还没有数据");
             auto percent = [](double v) {
                 return QStringLiteral("%1%").arg(std::lround(std::clamp(v, 0.0, 1.0) * 100));
             };
             const auto [low, high] = std::minmax_element(values.begin(), values.end());
             QString text = QStringLiteral("内存使用率历史");
             if (s->secondsPerValue() > 0)
                 text += QStringLiteral("，最近 ") +
                         spanText(s->secondsPerValue() * static_cast<double>(values.size()));
             return text + QStringLiteral("：当前 ") + percent(values.constLast()) +
                    QStringLiteral("，最低 ") + percent(*low) + QStringLiteral("，最高 ") +
                    percent(*high);
         }});
    // Pressure, swap and CPU: each figure labelled by its caption.
    for (const auto& [caption, value] : std::as_const(figureCaptions)) {
        TLDescribeAccessible(caption, {.name = [c = caption] { return c->text(); }});
        TLDescribeAccessible(value,
                             {.name = [v = value] { return v->text(); }, .labelledBy = caption});
    }
}

void TLPanelView::describeTabs() {
    // The tabs, and the list whose unit they choose.
    TLDescribeAccessible(
        seg, {.role = QAccessible::PageTabList, .name = [] { return QStringLiteral("进程排序"); }});
    for (int i = 0; i < seg->segmentCount(); ++i) {
        QAbstractButton* tab = seg->segment(i);
        TLDescribeAccessible(tab, {.role = QAccessible::PageTab,
                                   .name = [tab] { return tab->text(); },
                                   .selected = [tab] { return tab->isChecked(); }});
        // Another tab chosen: the tabs read as selected or not, and the list goes by the new
        // tab's name.
        QObject::connect(tab, &QAbstractButton::toggled, tab, [tab, list = rowsStack](bool on) {
            TLAnnounceAccessibleChange(tab, QAccessible::Selection);
            if (on) TLAnnounceAccessibleChange(list, QAccessible::NameChanged);
        });
    }
}

void TLPanelView::describeRows() {
    TLDescribeAccessible(rowsStack, {.role = QAccessible::List,
                                     .name = [s = seg] { return s->label(s->selectedSegment()); },
                                     .visibleChildrenOnly = true});
    for (TLProcRow* row : std::as_const(rows)) {
        TLDescribeAccessible(
            row, {.role = QAccessible::ListItem,
                  .name =
                      [row, s = seg] {
                          QString value = row->value();
                          if (s->selectedSegment() == 1) value = QStringLiteral("能耗 ") + value;
                          if (row->isApproximate()) value = QStringLiteral("约 ") + value;
                          QString name = row->name();
                          if (row->memberCount() > 1)
                              name += QStringLiteral("，%1 个进程").arg(row->memberCount());
                          if (!row->growthNote().isEmpty())
                              name += QStringLiteral("，") + row->growthNote();
                          return name + QStringLiteral("，") + value;
                      },
                  .leaf = true,
                  .focused =
                      [row, list = rowsStack] {
                          return list->hasFocus() && list->currentRow() == row;
                      }});
    }
}

void TLPanelView::describeQuietLabels() {
    // The labels inside the rows and the chip, and the total beside the used figure, are read in
    // their neighbours' names; named, they send no name change with each new text either.
    QList<QLabel*> quiet{bigValue, totalValue, chip->label()};
    for (TLProcRow* row : std::as_const(rows))
        quiet << row->nameLabel() << row->valueLabel();
    for (QLabel* label : std::as_const(quiet))
        TLDescribeAccessible(label,
                             {.name = [label] { return label->text(); }, .partOfNeighbour = true});
}

void TLPanelView::announceRowFocus() {
    // Qt tells of the list's own focus once its focus-in is over, where the row is chosen: the row
    // is told of after it, so that a reader lands on the row (unless the focus moved on).
    QObject::connect(
        rowsStack, &TLProcList::currentRowChanged, rowsStack,
        [list = rowsStack](TLProcRow* row) {
            if (list->hasFocus() && list->currentRow() == row) TLAnnounceAccessibleFocus(row);
        },
        Qt::QueuedConnection);
}

void TLPanelView::layOut() const {
    rowsStack->layout()->invalidate();
    rowsStack->updateGeometry();
    column->invalidate();
    column->activate();
    // The rows of the column (header, figures, footer) place their views too, so that the tree
    // is laid out even before it is first shown (snapshots, tests).
    for (QWidget* item : std::as_const(columnItems)) {
        if (QLayout* layout = item->layout()) {
            layout->invalidate();
            layout->activate();
        }
    }
}
