#include "platform/wayland/TLLayerSurface.h"

#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>
#include <qpa/qplatformwindow.h>

#include <algorithm>

namespace {

const char kNamespace[] = "dev.tide.monitor";

QPlatformNativeInterface* native() {
    return TLWaylandNative();
}

// The layer role of one window, renewed each time Qt creates the window's wl_surface (Qt destroys
// it when the window is hidden). Lives as a child of the QWindow.
class LayerHook final : public QObject {
    Q_OBJECT
public:
    LayerHook(QWindow* window, TLLayerShell::Impl* shell) : QObject(window), _shell(shell) {}
    ~LayerHook() override { drop(); }

    static LayerHook* of(QWindow* window) { return window->findChild<LayerHook*>(); }

    void setConfig(const TLLayerConfig& config) {
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
    TLLayerConfig _config;
    QObject* _watched = nullptr;
    zwlr_layer_surface_v1* _layer = nullptr;
    bool _enabled = false;
    bool _configured = false;
    bool _closed = false;
};

} // namespace

void TLAnchorLayer(TLLayerConfig& config, TLLayerPlacement::Edge edge, int margin,
                   std::optional<int> left, int right) {
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

void TLArmLayerSurface(QWidget* widget, TLLayerShell::Impl* shell, const TLLayerConfig& config) {
    widget->setAttribute(Qt::WA_NativeWindow); // the QWindow exists from here on
    widget->winId();
    QWindow* window = widget->windowHandle();
    if (!window) return;
    window->setFlag(Qt::BypassWindowManagerHint, true);
    LayerHook* hook = LayerHook::of(window);
    if (!hook) hook = new LayerHook(window, shell);
    hook->setConfig(config);
    hook->watch();
}

void TLDisarmLayerSurface(QWindow* window) {
    window->setFlag(Qt::BypassWindowManagerHint, false);
    if (LayerHook* hook = LayerHook::of(window)) hook->disable();
}

#include "TLLayerSurface.moc"
