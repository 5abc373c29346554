#pragma once
// The connection of the Wayland layer shell: Qt's wl_display, an event queue of our own on it,
// the registry, the compositor's zwlr_layer_shell_v1, and what the outputs tell of their pixels
// (TLLayerShellOutputs.cpp). Wayland builds only.
//
// Our protocol objects live on that queue, so that Qt never dispatches (or trips over) them, and
// so that a layer surface's first configure can be awaited synchronously.

#include "platform/TLLayerShell.h"

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

#include <wayland-client.h>

#include <QPoint>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QPlatformNativeInterface;

// Qt's native interface: its wl_display, and the wl_surface of a window and wl_output of a screen.
QPlatformNativeInterface* TLWaylandNative();

struct TLLayerShell::Impl {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr;
    wl_registry* registry = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    uint32_t version = 0; // of the bound layer shell, at most 4
    wl_compositor* compositor = nullptr;
    // The compositor offers to draw the windows' frames (xdg-decoration).
    bool decoratesWindows = false;
    // The outputs as bound here (Qt's own proxies have Qt's listeners): where each is in the
    // compositor's space, and its current mode.
    struct Output {
        wl_output* output = nullptr;
        uint32_t name = 0; // the registry's
        QPoint position;
        QSize mode;
        int32_t transform = 0;
    };
    std::vector<std::unique_ptr<Output>> outputs;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl();

    // Whether the session is Wayland and its compositor offers the layer shell.
    bool connect();
    // Handles the events already read for our queue.
    void dispatch();

    // Registry events for the outputs and the compositor (TLLayerShellOutputs.cpp).
    void addOutput(uint32_t name, uint32_t version);
    void removeOutput(uint32_t name);
    // The current mode's size, as the output is turned, of the output at `position`.
    std::optional<QSize> pixelSize(const QPoint& position) const;
    // The height a layer surface anchored to the top and bottom of `output` is given when it
    // keeps out of the bars' reserved areas; none when the compositor does not answer.
    std::optional<int> availableHeight(wl_output* output);
};
