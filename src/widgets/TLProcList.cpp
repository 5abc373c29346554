#include "widgets/TLProcList.h"

#include "widgets/TLProcRow.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kRowSpacing = 1;
}

TLProcList::TLProcList(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kRowSpacing);
    setFocusPolicy(Qt::StrongFocus);
}

void TLProcList::addRow(TLProcRow* row) {
    row->setParent(this);
    row->setFocusPolicy(Qt::NoFocus);
    static_cast<QVBoxLayout*>(layout())->addWidget(row, 0, Qt::AlignLeft);
    _rows.append(row);
}

QList<TLProcRow*> TLProcList::shownRows() const {
    QList<TLProcRow*> shown;
    for (TLProcRow* row : _rows)
        if (!row->isHidden()) shown.append(row);
    return shown;
}

TLProcRow* TLProcList::currentRow() const {
    for (int i = std::min(_current, static_cast<int>(_rows.size()) - 1); i >= 0; --i)
        if (!_rows[i]->isHidden()) return _rows[i];
    const QList<TLProcRow*> shown = shownRows();
    return shown.isEmpty() ? nullptr : shown.constFirst();
}

void TLProcList::setCurrentRow(TLProcRow* row) {
    const int index = static_cast<int>(_rows.indexOf(row));
    if (index < 0 || row->isHidden()) return;
    _current = index;
    showCurrent();
}

void TLProcList::showCurrent() {
    TLProcRow* current = hasFocus() ? currentRow() : nullptr;
    for (TLProcRow* row : std::as_const(_rows))
        row->setKeyboardCurrent(row == current);
    if (current) emit currentRowChanged(current);
}

bool TLProcList::event(QEvent* event) {
    // Rows shown or hidden while the keyboard is in the list: the ring follows the current row.
    if (event->type() == QEvent::LayoutRequest && hasFocus()) {
        TLProcRow* before = nullptr;
        for (TLProcRow* row : std::as_const(_rows))
            if (row->isKeyboardCurrent()) before = row;
        if (before != currentRow()) showCurrent();
    }
    return QWidget::event(event);
}

void TLProcList::keyPressEvent(QKeyEvent* event) {
    const QList<TLProcRow*> shown = shownRows();
    TLProcRow* current = currentRow();
    const int at = current ? static_cast<int>(shown.indexOf(current)) : -1;
    int to = -1;
    switch (event->key()) {
    case Qt::Key_Up:
        to = std::max(0, at - 1);
        break;
    case Qt::Key_Down:
        to = std::min(static_cast<int>(shown.size()) - 1, at + 1);
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = static_cast<int>(shown.size()) - 1;
        break;
    case Qt::Key_F10:
        if (event->modifiers() & Qt::ShiftModifier) {
            if (current) current->popUpMenuFromKeyboard();
            return;
        }
        break;
    case Qt::Key_Menu:
        if (current) current->popUpMenuFromKeyboard();
        return;
    default:
        break;
    }
    if (to < 0 || shown.isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    setCurrentRow(shown[to]);
}

void TLProcList::contextMenuEvent(QContextMenuEvent* event) {
    // The keyboard's menu request (the Menu key, where the platform turns it into one); a click's
    // goes to the row under the pointer.
    TLProcRow* current = currentRow();
    if (event->reason() == QContextMenuEvent::Keyboard && current &&
        current->popUpMenuFromKeyboard())
        return;
    event->ignore();
}

void TLProcList::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    showCurrent();
}

void TLProcList::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    // A menu opened from the list keeps the ring on its row.
    if (event->reason() == Qt::PopupFocusReason) return;
    for (TLProcRow* row : std::as_const(_rows))
        row->setKeyboardCurrent(false);
}
