// The layer shell on Qt's own Wayland connection. Qt 6.4 has no per-window shell integration, but
// it leaves a window that carries Qt::BypassWindowManagerHint without a shell surface when
// QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT is set: such a window is a bare wl_surface that Qt still
// draws into and delivers input for. This file gives that bare surface the layer-surface role the
// moment Qt creates it, and waits for the compositor's first configure before Qt attaches its
// first buffer. All other windows keep Qt's xdg-shell integration untouched.
//
// Our protocol objects live on an event queue of their own on Qt's wl_display, so that Qt never
// dispatches (or trips over) them, and so that the first configure can be awaited synchronously.

#include "platform/TLLayerShell.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

// The protocol names an argument `namespace`, a C++ keyword.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#ifdef __clang__
#pragma clang diagnostic pop
#endif

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <qpa/qplatformnativeinterface.h>
#include <qpa/qplatformwindow.h>

#include <wayland-client.h>

#include <cstring>
#include <optional>
#include <vector>

namespace {

const char kNamespace[] = "dev.tide.monitor";

QPlatformNativeInterface* native() {
    return QGuiApplication::platformNativeInterface();
}

struct LayerConfig {
    uint32_t layer = ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY;
    uint32_t anchor = 0;
    int top = 0, right = 0, bottom = 0, left = 0;
    int exclusiveZone = 0;
    uint32_t keyboard = ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
    QScreen* screen = nullptr;
    QSize size; // the widget's; Qt passes it on to the window only as it shows it
};

// Anchors `config` to `edge` at `margin` from it (below the bar's reserved area there), and to the
// screen's left side at `left` or, without one, to its right side at `right`.
void anchorAt(LayerConfig& config, TLLayerPlacement::Edge edge, int margin, std::optional<int> left,
              int right) {
    const bool bottom = edge == TLLayerPlacement::Edge::Bottom;
    config.anchor = bottom ? ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM : ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP;
    (bottom ? config.bottom : config.top) = margin;
    if (left) {
        config.anchor |= ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
        config.left = *left;
    } else {
        config.anchor |= ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
        config.right = right;
    }
}

void deleteAll(std::vector<QPointer<QWidget>>& windows) {
    for (auto& w : windows)
        delete w.data();
    windows.clear();
}

} // namespace

struct TLLayerShell::Impl {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr;
    wl_registry* registry = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    uint32_t version = 0;

    ~Impl() {
        if (shell) {
            if (version >= 3)
                zwlr_layer_shell_v1_destroy(shell);
            else
                wl_proxy_destroy(reinterpret_cast<wl_proxy*>(shell));
        }
        if (registry) wl_registry_destroy(registry);
        if (wrapper) wl_proxy_wrapper_destroy(wrapper);
        if (queue) wl_event_queue_destroy(queue);
    }

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) != 0 || self->shell) return;
        self->version = std::min<uint32_t>(version, 4);
        self->shell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, self->version));
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static constexpr wl_registry_listener kRegistry = {global, globalRemove};

    // Whether the session is Wayland and its compositor offers the layer shell.
    bool connect() {
        if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return false;
        if (!native()) return false;
        display = static_cast<wl_display*>(
            native()->nativeResourceForIntegration(QByteArrayLiteral("wl_display")));
        if (!display) return false;
        queue = wl_display_create_queue(display);
        wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
        registry = wl_display_get_registry(wrapper);
        wl_registry_add_listener(registry, &kRegistry, this);
        if (wl_display_roundtrip_queue(display, queue) < 0) return false;
        return shell != nullptr;
    }

    void dispatch() {
        if (display && queue) wl_display_dispatch_queue_pending(display, queue);
    }
};

namespace {

// The layer role of one window, renewed each time Qt creates the window's wl_surface (Qt destroys
// it when the window is hidden). Lives as a child of the QWindow.
class LayerHook final : public QObject {
    Q_OBJECT
public:
    LayerHook(QWindow* window, TLLayerShell::Impl* shell) : QObject(window), _shell(shell) {}
    ~LayerHook() override { drop(); }

    static LayerHook* of(QWindow* window) { return window->findChild<LayerHook*>(); }

    void setConfig(const LayerConfig& config) {
        _config = config;
        _enabled = true;
    }
    // A window shown without the role again (a menu reused outside the panel) keeps Qt's shell.
    void disable() { _enabled = false; }

    // Follows the window's platform window, which announces its wl_surface's creation.
    bool watch() {
        auto* window = static_cast<QWindow*>(parent());
        auto* platform = dynamic_cast<QObject*>(window->handle());
        if (!platform) return false;
        if (platform == _watched) return true;
        _watched = platform;
        QObject::connect(platform, SIGNAL(wlSurfaceCreated()), this, SLOT(surfaceCreated()),
                         Qt::DirectConnection);
        // The layer surface must go before its wl_surface. Up to Qt 6.7 wlSurfaceDestroyed comes
        // first; Qt 6.8 destroys the wl_surface before it emits that, and announces the end of
        // the surface's role (surfaceRoleDestroyed) before either: that one is used where it
        // exists, the other stays as the last resort (destroying twice is harmless).
        if (platform->metaObject()->indexOfSignal("surfaceRoleDestroyed()") >= 0)
            QObject::connect(platform, SIGNAL(surfaceRoleDestroyed()), this,
                             SLOT(surfaceDestroyed()), Qt::DirectConnection);
        QObject::connect(platform, SIGNAL(wlSurfaceDestroyed()), this, SLOT(surfaceDestroyed()),
                         Qt::DirectConnection);
        // Qt may have made the surface along with the platform window already.
        if (native()->nativeResourceForWindow(QByteArrayLiteral("surface"), window))
            surfaceCreated();
        return true;
    }

public slots:
    void surfaceCreated() {
        drop();
        auto* window = static_cast<QWindow*>(parent());
        auto* surface = static_cast<wl_surface*>(
            native()->nativeResourceForWindow(QByteArrayLiteral("surface"), window));
        if (!surface || !_shell->shell || !_enabled) return;
        // Only a bare surface can take the role: one that Qt gave a shell surface (a Qt that does
        // not honour the bypass hint) would end the connection with a protocol error.
        if (!(window->flags() & Qt::BypassWindowManagerHint) ||
            native()->nativeResourceForWindow(QByteArrayLiteral("xdg_surface"), window))
            return;
        auto* output = _config.screen ? static_cast<wl_output*>(native()->nativeResourceForScreen(
                                            QByteArrayLiteral("output"), _config.screen))
                                      : nullptr;
        _closed = false;
        _configured = false;
        _layer = zwlr_layer_shell_v1_get_layer_surface(_shell->shell, surface, output,
                                                       _config.layer, kNamespace);
        zwlr_layer_surface_v1_add_listener(_layer, &kListener, this);
        const QSize size = _config.size.isValid() ? _config.size : window->size();
        zwlr_layer_surface_v1_set_size(_layer, static_cast<uint32_t>(std::max(1, size.width())),
                                       static_cast<uint32_t>(std::max(1, size.height())));
        zwlr_layer_surface_v1_set_anchor(_layer, _config.anchor);
        zwlr_layer_surface_v1_set_margin(_layer, _config.top, _config.right, _config.bottom,
                                         _config.left);
        zwlr_layer_surface_v1_set_exclusive_zone(_layer, _config.exclusiveZone);
        zwlr_layer_surface_v1_set_keyboard_interactivity(_layer, _config.keyboard);
        wl_surface_commit(surface);
        // The compositor answers the commit with the first configure; Qt must not attach a
        // buffer before it. A compositor that never answers leaves the window unmapped.
        for (int i = 0; i < 4 && !_configured && !_closed; ++i)
            if (wl_display_roundtrip_queue(_shell->display, _shell->queue) < 0) break;
    }

    void surfaceDestroyed() { drop(); }

private:
    void drop() {
        if (_layer) zwlr_layer_surface_v1_destroy(_layer);
        _layer = nullptr;
    }

    static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t,
                          uint32_t) {
        auto* self = static_cast<LayerHook*>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        self->_configured = true;
    }
    static void closed(void* data, zwlr_layer_surface_v1*) {
        auto* self = static_cast<LayerHook*>(data);
        self->_closed = true;
        // The output went away: the window can no longer be seen.
        QPointer<QWindow> window(static_cast<QWindow*>(self->parent()));
        QMetaObject::invokeMethod(
            self,
            [window] {
                if (window) window->hide();
            },
            Qt::QueuedConnection);
    }
    static constexpr zwlr_layer_surface_v1_listener kListener = {configure, closed};

    TLLayerShell::Impl* _shell;
    LayerConfig _config;
    QObject* _watched = nullptr;
    zwlr_layer_surface_v1* _layer = nullptr;
    bool _enabled = false;
    bool _configured = false;
    bool _closed = false;
};

// Prepares `widget`'s window for the layer role with `config` before it is shown.
void arm(QWidget* widget, TLLayerShell::Impl* impl, const LayerConfig& config) {
    widget->setAttribute(Qt::WA_NativeWindow); // the QWindow exists from here on
    widget->winId();
    QWindow* window = widget->windowHandle();
    if (!window) return;
    window->setFlag(Qt::BypassWindowManagerHint, true);
    LayerHook* hook = LayerHook::of(window);
    if (!hook) hook = new LayerHook(window, impl);
    hook->setConfig(config);
    hook->watch();
}

// A transparent window over a whole screen: it learns where the pointer is as soon as it
// appears, and takes the presses that land outside the program's layer windows.
// A strip (see TLLayerCatchers) is a cover of the size given, placed by its layer config.
class Cover final : public QWidget {
public:
    Cover(QScreen* screen, std::function<void()> pressed, QSize size = {})
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

    QScreen* screen() const { return _screen; }
    // The next position the pointer is seen at goes to `found`.
    void expect(std::function<void(TLPointerSpot)> found) { _found = std::move(found); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
    }
    void enterEvent(QEnterEvent* e) override { report(e->position().toPoint()); }
    void mouseMoveEvent(QMouseEvent* e) override { report(e->position().toPoint()); }
    void mousePressEvent(QMouseEvent* e) override {
        report(e->position().toPoint());
        if (e->button() == Qt::LeftButton || e->button() == Qt::RightButton) _pressed();
    }

private:
    void report(const QPoint& at) {
        if (!_found) return;
        auto found = std::move(_found);
        _found = nullptr;
        found({_screen, at});
    }

    QPointer<QScreen> _screen;
    std::function<void(TLPointerSpot)> _found;
    std::function<void()> _pressed;
};

} // namespace

void TLLayerShell::prepareEnvironment() {
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
}

TLLayerShell* TLLayerShell::instance() {
    static TLLayerShell* shell = []() -> TLLayerShell* {
        if (!qEnvironmentVariableIsSet("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT")) return nullptr;
        auto impl = std::make_unique<Impl>();
        if (!impl->connect()) return nullptr;
        const int version = static_cast<int>(impl->version);
        auto* s = new TLLayerShell(std::move(impl), version);
        s->setParent(qApp);
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

// One cover per screen, kept between openings: a new one costs a full-screen buffer, and the first
// one Qt's first-window set-up (shell, cursor theme), which is why they are made at start-up.
void TLLayerShell::ensureCovers() {
    const QList<QScreen*> screens = QGuiApplication::screens();
    // A screen that went away or changed size gets a new cover.
    std::erase_if(_covers, [&screens](const QPointer<QWidget>& w) {
        auto* cover = static_cast<Cover*>(w.data());
        if (cover && screens.contains(cover->screen()) &&
            cover->size() == cover->screen()->geometry().size())
            return false;
        delete cover;
        return true;
    });
    for (QScreen* screen : screens) {
        const bool has = std::any_of(_covers.begin(), _covers.end(), [screen](const auto& w) {
            return static_cast<Cover*>(w.data())->screen() == screen;
        });
        if (has) continue;
        auto* cover = new Cover(screen, [this] { emit outsidePressed(); });
        LayerConfig config;
        config.layer = ZWLR_LAYER_SHELL_V1_LAYER_TOP;
        config.anchor = ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
        config.exclusiveZone = -1; // over the bars too: a press on the bar is outside
        config.screen = screen;
        config.size = screen->geometry().size();
        arm(cover, _impl.get(), config);
        _covers.emplace_back(cover);
    }
}

void TLLayerShell::capture(std::function<void(TLPointerSpot)> done, int timeoutMs) {
    endCapture();
    _impl->dispatch();
    _pendingCapture = std::move(done);
    _capturing = true;
    const int generation = ++_captureGeneration;
    ensureCovers();
    for (auto& w : _covers) {
        auto* cover = static_cast<Cover*>(w.data());
        const QScreen* screen = cover->screen();
        cover->setGeometry(screen->geometry());
        cover->expect([this](TLPointerSpot spot) { coverFound(spot); });
        if (_others.empty()) cover->show();
    }
    QTimer::singleShot(timeoutMs, this, [this, generation] {
        if (generation == _captureGeneration) coverFound({});
    });
}

void TLLayerShell::coverFound(TLPointerSpot spot) {
    if (!_pendingCapture) return;
    auto done = std::move(_pendingCapture);
    _pendingCapture = nullptr;
    done(spot);
}

void TLLayerShell::endCapture() {
    ++_captureGeneration;
    _pendingCapture = nullptr;
    _capturing = false;
    for (auto& cover : _covers)
        if (cover) {
            static_cast<Cover*>(cover.data())->expect(nullptr);
            cover->hide();
            cover->clearMask();
        }
    _holeScreen = nullptr;
    _hole = {};
    deleteAll(_strips);
}

void TLLayerShell::setCatchersVisible(bool visible) {
    for (auto& cover : _covers)
        if (cover) cover->setVisible(visible);
    for (auto& strip : _strips)
        if (strip) strip->setVisible(visible);
    if (visible) applyHole();
}

// The input region goes with the wl_surface, which Qt makes anew at every show: set again (after
// a clear, since Qt skips a mask equal to the one it has).
void TLLayerShell::applyHole() {
    for (auto& w : _covers) {
        auto* cover = static_cast<Cover*>(w.data());
        if (!cover) continue;
        cover->clearMask();
        if (_holeScreen && cover->screen() == _holeScreen && !_hole.isEmpty())
            cover->setMask(QRegion(QRect(QPoint(0, 0), cover->size())) - QRegion(_hole));
    }
}

// The layers: the covers and the panel share the top layer (above windows and, by default, the
// bars), the panel's menus go on the overlay layer above them. Compositors stack the surfaces of
// one layer in different orders, so the covers never lie under the panel at all: the cover of
// the panel's screen leaves out the panel's column, and strips fill the column around the panel.
void TLLayerShell::showPlaced(QWidget* window, QScreen* screen, const TLLayerPlacement& p) {
    if (!screen) screen = QGuiApplication::primaryScreen();
    LayerConfig config;
    config.layer = ZWLR_LAYER_SHELL_V1_LAYER_TOP;
    config.screen = screen;
    config.exclusiveZone = 0; // beside the bar's reserved area, not over it
    config.keyboard = _version >= 4 ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND
                                    : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE;
    const bool bottom = p.edge == TLLayerPlacement::Edge::Bottom;
    anchorAt(config, p.edge, p.gap, p.left, p.gap);
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
    arm(window, _impl.get(), config);
    window->setProperty("tide.layerEdge", bottom ? 1 : 0);
    window->setProperty("tide.layerPos", topLeft);
    window->show();
    if (_capturing) catchAround(screen, size, p);
}

void TLLayerShell::catchAround(QScreen* screen, const QSize& size, const TLLayerPlacement& p) {
    deleteAll(_strips);
    const TLLayerCatchers catchers = TLLayerCatchersAround(screen->geometry().size(), size, p);
    _holeScreen = screen;
    _hole = catchers.column;
    applyHole();
    for (const TLLayerStrip& s : catchers.strips) {
        auto* strip = new Cover(
            screen, [this] { emit outsidePressed(); }, s.size);
        LayerConfig config;
        config.layer = ZWLR_LAYER_SHELL_V1_LAYER_TOP;
        config.screen = screen;
        config.exclusiveZone = 0; // moved off the bars' reserved areas as the panel is
        config.size = s.size;
        anchorAt(config, s.edge, s.margin, s.left, s.right);
        arm(strip, _impl.get(), config);
        _strips.emplace_back(strip);
        if (_others.empty()) strip->show();
    }
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
    LayerConfig config;
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
    arm(window, _impl.get(), config);
}

bool TLLayerShell::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show && event->type() != QEvent::Hide)
        return QObject::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow() || dynamic_cast<Cover*>(widget))
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
            widget->windowHandle()->setFlag(Qt::BypassWindowManagerHint, false);
            if (LayerHook* hook = LayerHook::of(widget->windowHandle())) hook->disable();
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

#include "TLLayerShell.moc"
