// What the compositor tells of its outputs beyond Qt's screens: the pixels of each output's mode
// (Qt's screen ratio on Wayland is the integer wl_output scale, 2 at 150 %), and how much of an
// output the bars keep for themselves (the compositor's layout of a layer surface that stays clear
// of them).

#include "platform/TLLayerShell.h"
#include "platform/wayland/TLLayerShellImpl.h"

#include <QGuiApplication>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>

#include <algorithm>

namespace {

using Output = TLLayerShell::Impl::Output;

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t transform) {
    auto* o = static_cast<Output*>(data);
    o->position = QPoint(x, y);
    o->transform = transform;
}
void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (flags & WL_OUTPUT_MODE_CURRENT) static_cast<Output*>(data)->mode = QSize(width, height);
}
void outputDone(void*, wl_output*) {}
void outputScale(void*, wl_output*, int32_t) {}
void outputText(void*, wl_output*, const char*) {} // name and description (version 4)
constexpr wl_output_listener kOutput = {outputGeometry, outputMode, outputDone,
                                        outputScale,    outputText, outputText};

// The probe's answer: the size the compositor gives it.
struct Probe {
    bool configured = false;
    bool closed = false;
    uint32_t height = 0;
};
void probeConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t,
                    uint32_t height) {
    auto* probe = static_cast<Probe*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    probe->configured = true;
    probe->height = height;
}
void probeClosed(void* data, zwlr_layer_surface_v1*) {
    static_cast<Probe*>(data)->closed = true;
}
constexpr zwlr_layer_surface_v1_listener kProbe = {probeConfigure, probeClosed};

} // namespace

void TLLayerShell::Impl::addOutput(uint32_t name, uint32_t version) {
    auto o = std::make_unique<Output>();
    o->name = name;
    o->output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min<uint32_t>(version, 2)));
    wl_output_add_listener(o->output, &kOutput, o.get());
    outputs.push_back(std::move(o));
}

void TLLayerShell::Impl::removeOutput(uint32_t name) {
    std::erase_if(outputs, [name](const std::unique_ptr<Output>& o) {
        if (o->name != name) return false;
        wl_output_destroy(o->output);
        return true;
    });
}

std::optional<QSize> TLLayerShell::Impl::pixelSize(const QPoint& position) const {
    for (const auto& o : outputs) {
        if (o->position != position || o->mode.isEmpty()) continue;
        const bool turned = o->transform == WL_OUTPUT_TRANSFORM_90 ||
                            o->transform == WL_OUTPUT_TRANSFORM_270 ||
                            o->transform == WL_OUTPUT_TRANSFORM_FLIPPED_90 ||
                            o->transform == WL_OUTPUT_TRANSFORM_FLIPPED_270;
        return turned ? o->mode.transposed() : o->mode;
    }
    return std::nullopt;
}

// A surface that is never given a buffer, so never seen: anchored to the top, the bottom and the
// left side with no height of its own, it is given the height between the bars' reserved areas.
std::optional<int> TLLayerShell::Impl::availableHeight(wl_output* output) {
    if (!shell || !compositor || !output) return std::nullopt;
    wl_surface* surface = wl_compositor_create_surface(compositor);
    zwlr_layer_surface_v1* layer = zwlr_layer_shell_v1_get_layer_surface(
        shell, surface, output, ZWLR_LAYER_SHELL_V1_LAYER_TOP, "dev.tide.monitor.probe");
    Probe probe;
    zwlr_layer_surface_v1_add_listener(layer, &kProbe, &probe);
    zwlr_layer_surface_v1_set_size(layer, 1, 0);
    zwlr_layer_surface_v1_set_anchor(layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_exclusive_zone(layer, 0);
    wl_surface_commit(surface);
    for (int i = 0; i < 4 && !probe.configured && !probe.closed; ++i)
        if (wl_display_roundtrip_queue(display, queue) < 0) break;
    zwlr_layer_surface_v1_destroy(layer);
    wl_surface_destroy(surface);
    if (!probe.configured || probe.height == 0) return std::nullopt;
    return static_cast<int>(probe.height);
}

std::optional<QSize> TLLayerShell::pixelSize(const QScreen* screen) const {
    if (!screen) return std::nullopt;
    _impl->dispatch();
    return _impl->pixelSize(screen->geometry().topLeft());
}

int TLLayerShell::reservedHeight(QScreen* screen) {
    if (!screen) return 0;
    auto* output = static_cast<wl_output*>(
        TLWaylandNative()->nativeResourceForScreen(QByteArrayLiteral("output"), screen));
    const std::optional<int> available = _impl->availableHeight(output);
    return available ? std::max(0, screen->geometry().height() - *available) : 0;
}
