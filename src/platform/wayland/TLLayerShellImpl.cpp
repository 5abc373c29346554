#include "platform/wayland/TLLayerShellImpl.h"

#include <QGuiApplication>
#include <qpa/qplatformnativeinterface.h>

#include <algorithm>
#include <cstring>

namespace {

void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
            uint32_t version) {
    auto* self = static_cast<TLLayerShell::Impl*>(data);
    if (std::strcmp(interface, wl_output_interface.name) == 0) {
        self->addOutput(name, version);
    } else if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !self->compositor) {
        self->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 && !self->shell) {
        self->version = std::min<uint32_t>(version, 4);
        self->shell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, self->version));
    } else if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0) {
        self->decoratesWindows = true;
    }
}
void globalRemove(void* data, wl_registry*, uint32_t name) {
    static_cast<TLLayerShell::Impl*>(data)->removeOutput(name);
}
constexpr wl_registry_listener kRegistry = {global, globalRemove};

} // namespace

QPlatformNativeInterface* TLWaylandNative() {
    return QGuiApplication::platformNativeInterface();
}

TLLayerShell::Impl::~Impl() {
    if (shell) {
        if (version >= 3)
            zwlr_layer_shell_v1_destroy(shell);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(shell));
    }
    for (const auto& o : outputs)
        wl_output_destroy(o->output);
    if (compositor) wl_compositor_destroy(compositor);
    if (registry) wl_registry_destroy(registry);
    if (wrapper) wl_proxy_wrapper_destroy(wrapper);
    if (queue) wl_event_queue_destroy(queue);
}

bool TLLayerShell::Impl::connect() {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return false;
    if (!TLWaylandNative()) return false;
    display = static_cast<wl_display*>(
        TLWaylandNative()->nativeResourceForIntegration(QByteArrayLiteral("wl_display")));
    if (!display) return false;
    queue = wl_display_create_queue(display);
    wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    registry = wl_display_get_registry(wrapper);
    wl_registry_add_listener(registry, &kRegistry, this);
    if (wl_display_roundtrip_queue(display, queue) < 0) return false;
    // The outputs bound in the first round tell their modes in the second.
    if (!outputs.empty() && wl_display_roundtrip_queue(display, queue) < 0) return false;
    return shell != nullptr;
}

void TLLayerShell::Impl::dispatch() {
    if (display && queue) wl_display_dispatch_queue_pending(display, queue);
}
