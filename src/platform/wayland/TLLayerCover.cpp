#include "platform/wayland/TLLayerCover.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

TLLayerCover::TLLayerCover(QScreen* screen, std::function<void()> pressed, QSize size)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::Tool),
      _screen(screen), _pressed(std::move(pressed)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("tide-cover"));
    if (size.isValid())
        setGeometry(QRect(screen->geometry().topLeft(), size));
    else
        setGeometry(screen->geometry());
}

void TLLayerCover::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    if (_drawn) std::exchange(_drawn, nullptr)();
}

void TLLayerCover::enterEvent(QEnterEvent* e) {
    report(e->position().toPoint());
}

void TLLayerCover::mouseMoveEvent(QMouseEvent* e) {
    report(e->position().toPoint());
}

void TLLayerCover::mousePressEvent(QMouseEvent* e) {
    report(e->position().toPoint());
    if (e->button() == Qt::LeftButton || e->button() == Qt::RightButton) _pressed();
}

void TLLayerCover::report(const QPoint& at) {
    if (!_found) return;
    auto found = std::move(_found);
    _found = nullptr;
    found({_screen, at});
}
