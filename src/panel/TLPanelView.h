#pragma once
#include "platform/TLAppInfo.h"

#include <QList>
#include <QString>

#include <utility>

class QLabel;
class QVBoxLayout;
class QWidget;
class TLBezelButton;
class TLChip;
class TLProcList;
class TLProcRow;
class TLSegmentedControl;
class TLSparkView;
class TLStackedBarView;

// Fixed sizes of the panel, in points.
inline constexpr int TLPanelWidth = 322;
inline constexpr int TLPanelColumnWidth = 294;
inline constexpr int TLPanelRowCapacity = 12;
inline constexpr int TLPanelRowHeight = 21;

// The texts of the panel that depend on the application's descriptive values.
// The title: the display name, or "潮汐" when there is none.
QString TLPanelTitle(const TLAppInfo& info);
// The footer's version text: "author · vVERSION", or "vVERSION" without an author.
QString TLPanelVersionText(const TLAppInfo& info);

// The panel's view tree, one column of fourteen items: header, used and total memory,
// composition bar, legend, separator, usage, usage history, pressure / swap / CPU, separator,
// tabs, process rows, the note under them, separator, footer. It keeps the views that change
// after it is built; the root owns them all, so the pointers live as long as the root does.
struct TLPanelView {
    // Builds the tree with the texts of `info` and the tab segment `selectedSegment` selected, and
    // returns its root, owned by nobody yet: 322 wide and as high as its content. The process
    // rows are all hidden. Every view pointer is null before.
    QWidget* build(const TLAppInfo& info, int selectedSegment);
    // Lays the tree out at once, so that the root's size is the panel's size without waiting for
    // the event loop (rows shown or hidden, texts changed), even before it is first shown.
    void layOut() const;

    QVBoxLayout* column = nullptr;
    QList<QWidget*> columnItems; // top to bottom
    QLabel* title = nullptr;
    TLChip* chip = nullptr;
    QLabel* bigValue = nullptr;
    QLabel* totalValue = nullptr;
    TLStackedBarView* bar = nullptr;
    QList<QLabel*> legendValues;
    QLabel* usageNow = nullptr;
    TLSparkView* spark = nullptr;
    QLabel* pressureValue = nullptr;
    QLabel* swapValue = nullptr;
    QLabel* cpuValue = nullptr;
    // The captions of pressure, swap and CPU, beside their figures.
    QList<std::pair<QLabel*, QLabel*>> figureCaptions;
    TLSegmentedControl* seg = nullptr;
    TLProcList* rowsStack = nullptr;
    QList<TLProcRow*> rows;
    QLabel* footNote = nullptr;
    TLBezelButton* activityMonitor = nullptr;
    QLabel* version = nullptr;
    TLBezelButton* gear = nullptr;

private:
    // The steps of `build`, top to bottom: the root and its column, then the column's items.
    QWidget* makeRoot();
    void buildFigures(const TLAppInfo& info);           // header, used and total, bar
    QList<std::pair<QWidget*, QWidget*>> buildLegend(); // returns the captions and figures
    void buildUsage();                                  // usage, its history, pressure, swap, CPU
    void buildProcesses(int selectedSegment);           // tabs, rows, the note under them
    void buildFooter(const TLAppInfo& info);
    // Appends an item to the column, 294 wide, with `spaceAfter` points under it.
    void add(QWidget* item, int spaceAfter);

    // What a screen reader reads, in the order the items are described.
    void describe(QWidget* root, const QList<std::pair<QWidget*, QWidget*>>& legend);
    void describeHeader(QWidget* root);
    void describeComposition(const QList<std::pair<QWidget*, QWidget*>>& legend);
    void describeUsage();
    void describeTabs();
    void describeRows();
    void describeQuietLabels();
    void announceRowFocus();
};
