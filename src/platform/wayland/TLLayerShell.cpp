// The layer shell on Qt's own Wayland connection: the windows it places (the panel) and the
// windows that open from them (menus, tool tips). The protocol objects are in TLLayerShellImpl,
// the layer role of a window in TLLayerSurface, the covers that catch outside presses in
// TLLayerShellCapture.cpp.

#include "platform/TLLayerShell.h"
#include "platform/wayland/TLLayerCover.h"
#include "platform/wayland/TLLayerShellImpl.h"
#include "platform/wayland/TLLayerSurface.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

void TLLayerShell::prepareEnvironment() {
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
}

namespace {

// Qt draws the frames of ordinary windows itself unless this is set, and to ask whether it may,
// it loads the OpenGL driver at the first window shown: about 25 ms at the first opening of the
// panel and 10 MiB of memory, for frames that Tide's windows (the panel, its covers and menus)
// never have. A compositor that offers the layer shell and draws frames itself draws the no-tray
// window's. The setting is read once, at the first window shown, and taken back then so that
// the programs Tide starts do not inherit it.
constexpr char kNoFrames[] = "QT_WAYLAND_DISABLE_WINDOWDECORATION";

} // namespace

TLLayerShell* TLLayerShell::instance() {
    static TLLayerShell* shell = []() -> TLLayerShell* {
        if (!qEnvironmentVariableIsSet("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT")) return nullptr;
        auto impl = std::make_unique<Impl>();
        if (!impl->connect()) return nullptr;
        const bool noFrames = impl->decoratesWindows && !qEnvironmentVariableIsSet(kNoFrames);
        const int version = static_cast<int>(impl->version);
        auto* s = new TLLayerShell(std::move(impl), version);
        s->setParent(qApp);
        if (noFrames) {
            qputenv(kNoFrames, "1");
            s->_framesSettingPending = true;
        }
        return s;
    }();
    return shell;
}

TLLayerShell::TLLayerShell(std::unique_ptr<Impl> impl, int version)
    : _impl(std::move(impl)), _version(version) {
    qApp->installEventFilter(this);
    QTimer::singleShot(0, this, [this] { ensureCovers(); });
}

TLLayerShell::~TLLayerShell() {
    endCapture();
    for (auto& cover : _covers)
        delete cover.data();
}

// The layers: the covers and the panel share the top layer (above windows and, by default, the
// bars), the panel's menus go on the overlay layer above them. Compositors stack the surfaces of
// one layer in different orders, so the covers never lie under the panel at all: the cover of
// the panel's screen leaves out the panel's column, and strips fill the column around the panel.
void TLLayerShell::showPlaced(QWidget* window, QScreen* screen, const TLLayerPlacement& p) {
    if (!screen) screen = QGuiApplication::primaryScreen();
    TLLayerConfig config;
    config.layer = ZWLR_LAYER_SHELL_V1_LAYER_TOP;
    config.screen = screen;
    config.exclusiveZone = 0; // beside the bar's reserved area, not over it
    config.keyboard = _version >= 4 ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND
                                    : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE;
    const bool bottom = p.edge == TLLayerPlacement::Edge::Bottom;
    TLAnchorLayer(config, p.edge, p.gap, p.left, p.gap);
    const QRect area = screen->geometry();
    const QSize size = window->size();
    QPoint topLeft;
    topLeft.setX(p.left ? area.left() + *p.left : area.right() + 1 - p.gap - size.width());
    topLeft.setY(bottom ? area.bottom() + 1 - p.gap - size.height() : area.top() + p.gap);
    // Where the window is (before the compositor moves it off the bar's reserved area, which it
    // does alike for the menus opened from it: they go on the same edge, see showAtGeometry).
    // Qt takes a window without a shell surface to be at 0,0, so menus are moved by the
    // difference.
    config.size = size;
    TLArmLayerSurface(window, _impl.get(), config);
    window->setProperty("tide.layerEdge", bottom ? 1 : 0);
    window->setProperty("tide.layerPos", topLeft);
    window->show();
    if (_capturing) catchAround(screen, size, p);
}

void TLLayerShell::showAtGeometry(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    QRect g = window->geometry();
    bool bottom = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != window && w->isVisible() && w->property("tide.layerEdge").isValid()) {
            g.translate(w->property("tide.layerPos").toPoint() - w->mapToGlobal(QPoint(0, 0)));
        }
    // Qt kept the menu on the screen for the position it believed in: keep it there for the real
    // one. It is anchored on the edge of the half it is in, so that a bar on the other edge cannot
    // push it off the screen; on the panel's edge, the bar shifts it as it shifts the panel.
    g.moveLeft(
        std::clamp(g.left(), area.left(), std::max(area.left(), area.right() + 1 - g.width())));
    g.moveTop(
        std::clamp(g.top(), area.top(), std::max(area.top(), area.bottom() + 1 - g.height())));
    bottom = g.center().y() > area.center().y();
    TLLayerConfig config;
    config.layer = ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY;
    config.screen = screen;
    config.exclusiveZone = 0;
    const bool tip = window->windowType() == Qt::ToolTip;
    config.keyboard = tip ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE
                          : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE;
    config.anchor =
        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
        (bottom ? ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM : ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP);
    config.left = g.left() - area.left();
    if (bottom)
        config.bottom = area.bottom() - g.bottom();
    else
        config.top = g.top() - area.top();
    config.size = g.size();
    TLArmLayerSurface(window, _impl.get(), config);
}

bool TLLayerShell::eventFilter(QObject* watched, QEvent* event) {
    // The first window shown has made Qt read the frames' setting (a window is exposed once it
    // is up).
    if (_framesSettingPending && event->type() == QEvent::Expose) {
        _framesSettingPending = false;
        qunsetenv(kNoFrames);
    }
    if (event->type() != QEvent::Show && event->type() != QEvent::Hide)
        return QObject::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow() || dynamic_cast<TLLayerCover*>(widget))
        return QObject::eventFilter(watched, event);
    const bool placed = widget->property("tide.layerEdge").isValid();
    const Qt::WindowType type = widget->windowType();
    bool panelShown = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != widget && w->isVisible() && w->property("tide.layerEdge").isValid())
            panelShown = true;
    if (type == Qt::Popup || type == Qt::ToolTip) {
        // A menu or tool tip of a placed window would otherwise become a window of its own that
        // the compositor places anywhere: it goes where Qt put it, beside its owner.
        if (event->type() == QEvent::Show && panelShown)
            showAtGeometry(widget);
        else if (event->type() == QEvent::Show && widget->windowHandle()) {
            TLDisarmLayerSurface(widget->windowHandle());
        }
    } else if (!placed) {
        // An alert or other window over the panel must be reachable: the covers, which sit above
        // ordinary windows, step aside while it is shown.
        const bool wasEmpty = _others.empty();
        std::erase_if(_others, [widget](const QPointer<QWidget>& w) { return !w || w == widget; });
        if (event->type() == QEvent::Show) _others.emplace_back(widget);
        if (wasEmpty != _others.empty()) setCatchersVisible(_capturing && _others.empty());
    }
    return QObject::eventFilter(watched, event);
}
