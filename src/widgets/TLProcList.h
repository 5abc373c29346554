#pragma once
#include <QList>
#include <QWidget>

class TLProcRow;

// The panel's process rows as one list the keyboard can walk: a single stop in the Tab order,
// where Up and Down move between the shown rows, Home and End go to the first and the last, and
// the Menu key or Shift+F10 opens the row's menu (the one a right click opens). The row the
// keyboard is on shows the focus ring while the list has the focus. Rows are laid out top to
// bottom, one point apart.
class TLProcList : public QWidget {
    Q_OBJECT
public:
    explicit TLProcList(QWidget* parent = nullptr);

    // Adds a row at the bottom; the list owns it.
    void addRow(TLProcRow* row);
    const QList<TLProcRow*>& rows() const { return _rows; }

    // The shown row the keyboard is on: the one chosen last, or the nearest shown one above it
    // once it is hidden; null while no row is shown.
    TLProcRow* currentRow() const;
    // Puts the keyboard on a shown row (a hidden or foreign one changes nothing).
    void setCurrentRow(TLProcRow* row);

signals:
    // The keyboard moved to another row (or the list took the focus).
    void currentRowChanged(TLProcRow* row);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QList<TLProcRow*> shownRows() const;
    void showCurrent();

    QList<TLProcRow*> _rows;
    int _current = 0; // an index into _rows
};
