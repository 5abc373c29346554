#pragma once
#include "format/TLColor.h"
#include "widgets/TLTextLabel.h"

#include <QMenu>

#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <functional>

// One line of the panel's process list: the process name on the left, its value on the right, a
// translucent bar behind them whose length shows the process's share of the largest value, and a
// faint highlight while the pointer is over the line. The row does no sorting or formatting.
//
// Geometry in points. The bar and the highlight are y-up (origin at the bottom left of the row);
// they are symmetric top to bottom, so the same numbers hold either way. For the standard
// 294 × 21 row a full bar is 286 × 18 and the highlight 286 × 19.

inline constexpr qreal TLProcRowBarInset = 4;
inline constexpr qreal TLProcRowBarRadius = 4;
inline constexpr qreal TLProcRowBarAlpha = 0.18;
inline constexpr qreal TLProcRowBarHoverAlpha = 0.30;
inline constexpr qreal TLProcRowHighlightRadius = 5;
inline constexpr qreal TLProcRowHighlightAlpha = 0.07;
inline constexpr qreal TLProcRowLabelInset = 8;
inline constexpr qreal TLProcRowLabelGap = 6;
inline constexpr qreal TLProcRowFontSize = 11.5;

// The fraction clamped to 0 … 1 (0 when it is not a number).
double TLProcRowClampFraction(double fraction);
// The bar: (x + 4, y + 1.5, (w − 8) × f, h − 3), or an empty rectangle when it would be 1 point
// wide or less (then no bar is drawn).
QRectF TLProcRowBarRect(const QRectF& bounds, double fraction);
// The hover highlight: the bounds inset by 4 horizontally and 1 vertically.
QRectF TLProcRowHighlightRect(const QRectF& bounds);

// Where the two labels go in a row of the given size, from their natural (unshortened) widths.
// Both span the row's height and centre their text vertically. The value keeps its natural width
// and ends 8 before the right edge; the name starts 8 after the left edge and gets at most the
// room left with a gap of 6 before the value, so a long name is shortened, never the value.
struct TLProcRowLabelRects {
    QRectF name;
    QRectF value;
};
TLProcRowLabelRects TLProcRowLayout(QSizeF rowSize, qreal nameWidth, qreal valueWidth);

class TLProcRow : public QWidget {
    Q_OBJECT
public:
    explicit TLProcRow(QWidget* parent = nullptr);
    // Starts with the given geometry, which is also its size hint.
    explicit TLProcRow(const QRect& frame, QWidget* parent = nullptr);
    ~TLProcRow() override;

    // Fills the row. The rank (its zero-based position) is accepted and not shown. A null name or
    // value shows as empty. An approximate value reads "~" followed by the value, in the tertiary
    // label colour; an exact one reads the value in the secondary label colour. The fraction is
    // clamped to 0 … 1 (0 when not a number). Redraws what changed: the labels whose text
    // changed, and the bar when it moved by a visible amount.
    void setRank(qint64 rank, const QString& name, const QString& value, double fraction,
                 bool approximate);

    // How many processes the row stands for: more than one shows "×N" after the name, which is
    // shortened before that count is.
    int memberCount() const { return _members; }
    void setMemberCount(int count);

    // What the row says of growth: empty for none; otherwise a short note ("6 分钟内增长 300.0
    // MB") that the row marks with "↑" after the name (and its count), shown as its tool tip.
    const QString& growthNote() const { return _growthNote; }
    void setGrowthNote(const QString& note);

    // The process shown; the row itself does not use it.
    qint32 pid() const { return _pid; }
    void setPid(qint32 pid) { _pid = pid; }

    // Bar colour; starts as the system blue.
    const TLColor& tint() const { return _tint; }
    void setTint(const TLColor& tint);

    // The context menu shown on a right click. The row owns it; a new menu replaces (and deletes)
    // the previous one, except that a menu still open is deleted only once it closes.
    // A row may instead be given how to make its menu: it is made when first asked for (a right
    // click, the Menu key), not at each refresh that shows another process in the row.
    QMenu* menu();
    void setMenu(QMenu* menu);
    void setMenuSource(std::function<QMenu*()> make);
    bool hasMenu() const { return _menu || _makeMenu; }

    // The name as given (the label may show it shortened in the middle), and the value as given
    // (without the "~" of an approximate one).
    const QString& name() const { return _fullName; }
    const QString& value() const { return _plainValue; }
    bool isApproximate() const { return _approximate; }
    double fraction() const { return _fraction; }
    // The pointer is over the row while its window is active.
    bool isHovered() const { return _hover; }
    QLabel* nameLabel() const { return _name; }
    QLabel* valueLabel() const { return _value; }

    // The row the keyboard is on in its list, while the list has the focus: it shows the focus
    // ring.
    bool isKeyboardCurrent() const { return _keyboardCurrent; }
    void setKeyboardCurrent(bool current);
    // Opens the row's menu from the keyboard, under the row's left end. False without a menu.
    bool popUpMenuFromKeyboard();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Hover from where the pointer really is (after a menu or alert held it).
    void recheckHover();
    void layoutLabels();
    void setHover(bool hover);

    TLTextLabel* _name;
    TLTextLabel* _value;
    double _fraction = 0;
    bool _hover = false;
    qint32 _pid = 0;
    int _members = 1;
    QString _growthNote;
    TLColor _tint;
    QString _fullName;
    QString _plainValue;
    bool _approximate = false;
    bool _keyboardCurrent = false;
    // What the name label was last laid out for: the name, its room and the row's height.
    QString _laidOutName;
    QSize _laidOutFor;
    QPointer<QMenu> _menu;
    std::function<QMenu*()> _makeMenu;
    QSize _frameSize;
};
