#include "platform/qt/TLNoTrayWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QVBoxLayout>

TLNoTrayWindow::TLNoTrayWindow(std::function<void()> closedByUser)
    // A title, a close and a minimize button: the panel has one size, so no maximize button.
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      _closedByUser(std::move(closedByUser)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TLNoTrayWindow::showPanel(QWidget* content, const QString& title) {
    setWindowTitle(title);
    setContent(content);
    adjustSize();
    // Brought forward from the keyboard (`tide --show`), a minimized window comes back too.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        raise();
        activateWindow();
    }
}

void TLNoTrayWindow::setContent(QWidget* content) {
    if (content->parentWidget() == this) return;
    layout()->addWidget(content);
    content->show();
    // The panel's own background colour, as in the popover.
    setPalette(content->palette());
}

void TLNoTrayWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && _closedByUser) _closedByUser();
}
