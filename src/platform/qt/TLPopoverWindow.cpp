// The popover: the panel in a frameless window under the status item, or on the layer shell where
// Wayland offers one; without a tray, the panel goes to the no-tray window (TLNoTrayWindow)
// instead.

#include "platform/TLClickGeometry.h"
#include "platform/TLLayerShell.h"
#include "platform/TLPopover.h"
#include "platform/TLWindowSystem.h"
#include "platform/qt/TLNoTrayWindow.h"
#include "platform/qt/TLXWaylandCover.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr int kRadius = 10;
constexpr int kGap = 4;    // between the status item and the window
constexpr int kMargin = 4; // kept free at the screen's edges

// A frameless window with rounded corners and a hairline border, painted in the content's window
// colour (the panel's background grey in its appearance).
class PopoverWindow final : public QWidget {
public:
    std::function<void()> escape;

    PopoverWindow()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        _translucent = TLWindowSystemComposites();
        if (_translucent) setAttribute(Qt::WA_TranslucentBackground);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    void setContent(QWidget* content) {
        // (The content may have been lent to the ordinary window meanwhile.)
        if (_content == content && content->parentWidget() == this) return;
        if (_content && _content->parentWidget() == this) layout()->removeWidget(_content);
        _content = content;
        layout()->addWidget(content);
        content->show();
        // The window goes by the panel's name (a screen reader announces it so).
        setWindowTitle(content->accessibleName());
        setAccessibleName(content->accessibleName());
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && escape) {
            escape();
            return;
        }
        QWidget::keyPressEvent(e);
    }
    void paintEvent(QPaintEvent* event) override {
        QPainter p(this);
        const QColor background = _content ? _content->palette().color(QPalette::Window)
                                           : palette().color(QPalette::Window);
        // The window is painted under every part of the panel that changes: the rounded shape
        // is drawn once per size, colour and pixel ratio, and copied from then on.
        const qreal dpr = p.paintEngine()->paintDevice()->devicePixelRatioF();
        if (_backdrop.isNull() || _backdrop.devicePixelRatio() != dpr ||
            _backdrop.size() != size() * dpr || _backdropColor != background) {
            _backdrop = QPixmap(size() * dpr);
            _backdrop.setDevicePixelRatio(dpr);
            _backdrop.fill(Qt::transparent);
            _backdropColor = background;
            QPainter shape(&_backdrop);
            shape.setRenderHint(QPainter::Antialiasing);
            const bool dark = background.lightnessF() < 0.5;
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
            shape.fillPath(path, background);
            shape.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 40), 1));
            shape.drawPath(path);
        }
        // Copied in bands: Qt's raster engine hands a blend of more than about a hundred rows to
        // its thread pool and waits for it, which costs more than the copy.
        constexpr int kBandRows = 32;
        for (const QRect& part : event->region()) {
            for (int y = part.top(); y <= part.bottom(); y += kBandRows) {
                const QRect band(part.left(), y, part.width(),
                                 std::min(kBandRows, part.bottom() + 1 - y));
                p.setClipRect(band);
                p.drawPixmap(QPointF(0, 0), _backdrop);
            }
        }
    }
    void resizeEvent(QResizeEvent*) override {
        if (_translucent) return;
        // No compositor: cut the corners with a mask instead.
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), kRadius, kRadius);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }

private:
    QPointer<QWidget> _content;
    bool _translucent = false;
    QPixmap _backdrop;
    QColor _backdropColor;
};

class QtPopover final : public TLPopover {
public:
    bool isShown() const override {
        if (_layer && !isWindow()) return _open && (_placing || (_window && _window->isVisible()));
        return (_window && _window->isVisible()) || (_panelWindow && _panelWindow->isVisible());
    }
    bool isWindow() const override { return _panelWindow && _panelWindow->isVisible(); }

    void show(QWidget* content, const QRect& anchor, std::optional<QPoint> hint) override {
        if (_panelWindow) _panelWindow->hide();
        if (!_window) {
            _window = new PopoverWindow;
            _window->escape = [this] { emit closeRequested(); };
        }
        _window->setContent(content);
        _window->adjustSize();
        if (_layer) {
            showOnLayer(anchor, hint);
            return;
        }
        _window->move(placement(_window->size(), anchor));
        TLKeepOutOfTaskbar(_window);
        _window->show();
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            _window->raise();
            _window->activateWindow();
        }
        coverAround(_window);
    }

    void showAsWindow(QWidget* content, const QString& title) override {
        _open = false;
        _placing = false;
        if (_layer) _layer->endCapture();
        if (_window) _window->hide();
        if (!_panelWindow) {
            _panelWindow = new TLNoTrayWindow([this] { emit windowClosedByUser(); });
        }
        _panelWindow->showPanel(content, title);
    }

    void close() override {
        _open = false;
        _placing = false;
        if (_layer) _layer->endCapture();
        if (_cover) _cover->remove();
        if (_window) _window->hide();
        if (_panelWindow) _panelWindow->hide();
    }

    QWidget* window() const override {
        if (isWindow()) return _panelWindow;
        return _window;
    }

    ~QtPopover() override {
        _cover.reset();
        delete _window;
        delete _panelWindow;
    }

private:
    // Wayland with the layer shell. Covers over the screens take a press anywhere else. Where the
    // host told where its icon was clicked, the panel opens there at once, beyond the bar; where
    // it did not, the pointer is still on the icon: the covers learn where it is, and the panel
    // opens there on the bar's edge. A compositor may not tell a cover that the pointer is over
    // it until the pointer moves (sway, when the covers appear after the click ended): then the
    // host's own idea of the click (a bar's position in its own surface) places the panel.
    void showOnLayer(const QRect& anchor, std::optional<QPoint> hint) {
        _open = true;
        _placing = true;
        QPointer<PopoverWindow> window(_window);
        QScreen* anchorScreen = anchor.isValid() && !anchor.isEmpty()
                                    ? QGuiApplication::screenAt(anchor.center())
                                    : nullptr;
        QPointer<QScreen> known(anchorScreen);
        const TLPointerSpot guess = known ? TLPointerSpot{} : pointerFromHint(hint);
        _layer->capture(
            [this, window, anchor, known, hint, guess](TLPointerSpot spot) {
                if (!_placing || !window) return;
                _placing = false;
                if (spot.screen && hint)
                    _lastClick =
                        LastClick{spot.screen, spot.screen->geometry(), *hint, spot.position};
                if (!spot.screen && guess.screen) spot = guess;
                _layer->showPlaced(window, spot.screen,
                                   placeOnLayer(*window, anchor, known, hint, spot));
                window->activateWindow();
            },
            known || guess.screen ? 0 : 1000);
    }

    // Where the pointer is, on a screen of its own, judged from the host's idea of the click: the
    // last click the covers saw moved by as much as the host's spot moved since. A compositor
    // tells the covers where the pointer is only once the button is up (sway), a whole press
    // after the click, so the panel opens at once where the judgement is safe: on the only
    // screen, on the bar the last click was on, the host's spots being in the bar's own
    // coordinates. The first click, and every click where there are several screens (whose bars
    // may give the same spots), wait for the pointer.
    TLPointerSpot pointerFromHint(const std::optional<QPoint>& hint) const {
        const QList<QScreen*> screens = QGuiApplication::screens();
        if (!hint || !_lastClick || !_lastClick->screen || screens.size() != 1 ||
            screens.front() != _lastClick->screen ||
            _lastClick->screen->geometry() != _lastClick->geometry)
            return {};
        const QPoint at = _lastClick->pointer + (*hint - _lastClick->hint);
        if (!QRect(QPoint(0, 0), _lastClick->screen->size()).contains(at)) return {};
        return {_lastClick->screen, at};
    }

    TLLayerPlacement placeOnLayer(const QWidget& window, const QRect& anchor, QScreen* known,
                                  const std::optional<QPoint>& hint, TLPointerSpot& spot) const {
        QScreen* hinted =
            !known && !spot.screen && hint ? QGuiApplication::screenAt(*hint) : nullptr;
        // Hung from the bar: where the compositor keeps the bars' reserved areas clear of layer
        // surfaces, beside the area it keeps, else beyond the bar's estimate.
        if (hinted) {
            spot.screen = hinted;
            return TLLayerPlacementFromAnchor(window.size(), hinted->geometry(),
                                              TLBarAroundClick(*hint, hinted->geometry()), kMargin,
                                              kGap, _layer->reservedHeight(hinted));
        }
        if (known) {
            spot.screen = known;
            return TLLayerPlacementFromAnchor(window.size(), known->geometry(), anchor, kMargin,
                                              kGap, _layer->reservedHeight(known));
        }
        if (spot.screen)
            return TLLayerPlacementAtPointer(window.size(), spot.screen->size(), spot.position,
                                             kMargin);
        return {};
    }

    // Under XWayland: the cover that takes the presses outside the panel.
    void coverAround(QWidget* panel) {
        if (!TLXWaylandCover::needed()) return;
        if (!_cover) {
            _cover = std::make_unique<TLXWaylandCover>();
            connect(_cover.get(), &TLXWaylandCover::pressed, this,
                    [this] { emit closeRequested(); });
        }
        _cover->coverAround(panel);
    }

    // Centred under the anchor (above it when the panel is at the bottom of the screen), kept
    // inside the screen's available area.
    static QPoint placement(const QSize& size, QRect anchor) {
        if (!anchor.isValid() || anchor.isEmpty()) anchor = QRect(QCursor::pos(), QSize(1, 1));
        QScreen* screen = QGuiApplication::screenAt(anchor.center());
        if (!screen) screen = QGuiApplication::primaryScreen();
        const QRect area = (screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080))
                               .adjusted(kMargin, 0, -kMargin, 0);
        const bool below = !screen || anchor.center().y() < screen->geometry().center().y();
        int x = anchor.center().x() - size.width() / 2;
        int y = below ? anchor.bottom() + 1 + kGap : anchor.top() - kGap - size.height();
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
        y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
        return {x, y};
    }

    PopoverWindow* _window = nullptr;
    std::unique_ptr<TLXWaylandCover> _cover; // under XWayland
    TLNoTrayWindow* _panelWindow = nullptr;  // the no-tray window
    TLLayerShell* _layer = TLLayerShell::instance();
    bool _open = false;    // shown, or about to be shown on the layer
    bool _placing = false; // waiting to learn where the pointer is
    // The last click whose place the covers learnt: the screen (and its geometry then), the
    // host's spot, the pointer.
    struct LastClick {
        QPointer<QScreen> screen;
        QRect geometry;
        QPoint hint;
        QPoint pointer;
    };
    std::optional<LastClick> _lastClick;
};

} // namespace

std::unique_ptr<TLPopover> TLMakePopover() {
    return std::make_unique<QtPopover>();
}
