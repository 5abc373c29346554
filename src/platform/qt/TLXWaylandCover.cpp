#include "platform/qt/TLXWaylandCover.h"

#include "platform/TLSessionPlatform.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <functional>

namespace {

class PressCover final : public QWidget {
public:
    std::function<void()> pressed;

    PressCover()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        e->accept();
        if (pressed) pressed();
    }
    void paintEvent(QPaintEvent*) override {}
};

} // namespace

bool TLXWaylandCover::needed() {
    static const bool needed =
        !TLPointerPositionKnown() && QGuiApplication::platformName() == QLatin1String("xcb");
    return needed;
}

TLXWaylandCover::TLXWaylandCover() {
    auto* cover = new PressCover;
    cover->pressed = [this] { emit pressed(); };
    _cover = cover;
}

TLXWaylandCover::~TLXWaylandCover() {
    qApp->removeEventFilter(this);
    delete _cover;
}

void TLXWaylandCover::coverAround(QWidget* panel) {
    _panel = panel;
    // Watching the program's windows only while the panel is open.
    qApp->installEventFilter(this);
    const QRect geometry = panel->geometry();
    QScreen* screen = QGuiApplication::screenAt(geometry.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    _cover->setGeometry(screen->geometry());
    _cover->setMask(QRegion(QRect(QPoint(0, 0), screen->geometry().size())) -
                    QRegion(geometry.translated(-screen->geometry().topLeft())));
    // The panel's picture goes to the X server first. The cover, a tool tip's window, is mapped
    // at once while the window manager is still mapping the panel, and its screenful of
    // transparent pixels would be painted and sent before the panel's: tens of milliseconds.
    const QWindow* handle = panel->windowHandle();
    _awaitingPanel = handle && !handle->isExposed();
    if (!_awaitingPanel && !otherWindowShown()) _cover->show();
}

void TLXWaylandCover::remove() {
    qApp->removeEventFilter(this);
    _awaitingPanel = false;
    _cover->hide();
}

bool TLXWaylandCover::otherWindowShown() const {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == _panel || w == _cover || !w->isVisible()) continue;
        const Qt::WindowType type = w->windowType();
        if (type != Qt::Popup && type != Qt::ToolTip) return true;
    }
    return false;
}

bool TLXWaylandCover::eventFilter(QObject* watched, QEvent* event) {
    if (_awaitingPanel && event->type() == QEvent::Expose && _panel &&
        watched == _panel->windowHandle()) {
        _awaitingPanel = false;
        // After the panel has painted for this exposure.
        QTimer::singleShot(0, this, [this] {
            if (_panel && _panel->isVisible() && !_cover->isVisible() && !otherWindowShown())
                _cover->show();
        });
    }
    if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow() &&
        watched != _cover && watched != _panel && _panel && _panel->isVisible()) {
        const bool others = otherWindowShown();
        if (others && _cover->isVisible()) _cover->hide();
        if (!others && !_cover->isVisible() && !_awaitingPanel) _cover->show();
    }
    return QObject::eventFilter(watched, event);
}
