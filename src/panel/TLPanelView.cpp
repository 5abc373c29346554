#include "panel/TLPanelView.h"

#include "format/TLColor.h"
#include "panel/TLPanelControls.h"
#include "platform/TLPlatformTexts.h"
#include "widgets/TLAppearance.h"
#include "widgets/TLChip.h"
#include "widgets/TLFonts.h"
#include "widgets/TLProcRow.h"
#include "widgets/TLSparkView.h"
#include "widgets/TLStackedBarView.h"
#include "widgets/TLTextLabel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <utility>

namespace {

// Main column: insets and the space after each of the fourteen items (the last has none).
constexpr int kInsetSide = 14;
constexpr int kInsetTop = 12;
constexpr int kInsetBottom = 11;
constexpr int kRowSpacing = 6;     // between the views of a horizontal row
constexpr int kGridRowSpacing = 3; // 3.5 in the design; layouts place whole points
constexpr int kGridColumnSpacing = 8;
constexpr int kProcRowSpacing = 1;

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
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("TLPanel"));
    root->setGeometry(0, 0, TLPanelWidth, 500);

    column = new QVBoxLayout(root);
    column->setContentsMargins(kInsetSide, kInsetTop, kInsetSide, kInsetBottom);
    column->setSpacing(0);
    // The root is 322 wide (294 + the insets) and exactly as high as its content.
    column->setSizeConstraint(QLayout::SetFixedSize);
    auto add = [this](QWidget* item, int spaceAfter) {
        item->setFixedWidth(TLPanelColumnWidth);
        column->addWidget(item, 0, Qt::AlignLeft);
        if (spaceAfter > 0) column->addSpacing(spaceAfter);
        columnItems.append(item);
    };

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
    add(makeGrid({{caption(QStringLiteral("内存压力")), pressureValue},
                  {caption(QStringLiteral("交换空间")), swapValue},
                  {caption(QStringLiteral("CPU 总占用")), cpuValue}}),
        10);

    // 9. Separator.
    add(new TLSeparatorLine, 9);

    // 10. Tabs.
    seg = new TLSegmentedControl({QStringLiteral("内存占用"), QStringLiteral("能耗")});
    seg->setSelectedSegment(selectedSegment);
    add(seg, 6);

    // 11. Process rows, all hidden until the controller shows as many as it keeps.
    rowsStack = new QWidget;
    auto* rowsLayout = new QVBoxLayout(rowsStack);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(kProcRowSpacing);
    for (int i = 0; i < TLPanelRowCapacity; ++i) {
        auto* row = new TLProcRow(QRect(0, 0, TLPanelColumnWidth, TLPanelRowHeight));
        row->setFixedSize(TLPanelColumnWidth, TLPanelRowHeight);
        row->setHidden(true);
        rowsLayout->addWidget(row, 0, Qt::AlignLeft);
        rows.append(row);
    }
    add(rowsStack, 8);

    // 12. Note under the list; it keeps its line while empty.
    footNote =
        makeLabel(TLThisPlatformTexts().footNoteMemory, TLSystemFont(9.5), TLTertiaryLabelColor());
    footNote->setFixedHeight(footNote->sizeHint().height());
    footNote->clear();
    add(footNote, 8);

    // 13. Separator.
    add(new TLSeparatorLine, 8);

    // 14. Footer: system monitor, spacer, version, gear.
    activityMonitor = new TLBezelButton(QStringLiteral("打开活动监视器"));
    version = makeLabel(TLPanelVersionText(info), TLSystemFont(9.5), TLTertiaryLabelColor());
    gear = new TLBezelButton(TLBezelButton::Image::Action);
    gear->setFixedWidth(30);
    add(makeRow({activityMonitor, nullptr, version, gear}), 0);
    return root;
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
