#pragma once
// The connection of the Wayland layer shell: Qt's wl_display, an event queue of our own on it,
// the registry and the compositor's zwlr_layer_shell_v1. Wayland builds only.
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

#include <cstdint>

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

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl();

    // Whether the session is Wayland and its compositor offers the layer shell.
    bool connect();
    // Handles the events already read for our queue.
    void dispatch();
};
