// A pointer for the Wayland end-to-end test: moves the compositor's cursor and clicks, through
// the wlroots virtual-pointer protocol. One device for the whole run (a device that comes and
// goes would take the pointer away from every client each time). Usage:
//   tide-test-pointer WIDTH HEIGHT
// then one command a line on standard input, each answered with "ok" once the compositor has
// seen it:
//   move X Y
//   click X Y left|right
// WIDTH and HEIGHT are the size of the output layout in logical pixels (absolute motion is
// scaled to it).

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <linux/input-event-codes.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* g = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !g->seat)
        g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        g->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {global, globalRemove};

uint32_t now() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int usage() {
    std::fprintf(stderr, "usage: tide-test-pointer WIDTH HEIGHT  (commands on standard input)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return usage();
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]);
    if (w <= 0 || h <= 0) return usage();

    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "tide-test-pointer: no Wayland display\n");
        return 1;
    }
    Globals g;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &g);
    wl_display_roundtrip(display);
    if (!g.manager) {
        std::fprintf(stderr, "tide-test-pointer: the compositor has no virtual pointer\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.manager, g.seat);
    wl_display_roundtrip(display);

    int status = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string action, button = "left";
        int x = -1, y = -1;
        in >> action >> x >> y >> button;
        if ((action != "move" && action != "click") || x < 0 || y < 0 || x > w || y > h) {
            std::fprintf(stderr, "tide-test-pointer: bad command: %s\n", line.c_str());
            status = 2;
            break;
        }
        zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), static_cast<uint32_t>(x),
                                                static_cast<uint32_t>(y), static_cast<uint32_t>(w),
                                                static_cast<uint32_t>(h));
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        if (action == "click") {
            // A short press, as a hand makes it: clients see the motion before the button.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            const uint32_t code = button == "right" ? BTN_RIGHT : BTN_LEFT;
            zwlr_virtual_pointer_v1_button(pointer, now(), code, WL_POINTER_BUTTON_STATE_PRESSED);
            zwlr_virtual_pointer_v1_frame(pointer);
            wl_display_roundtrip(display);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            zwlr_virtual_pointer_v1_button(pointer, now(), code, WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer);
            wl_display_roundtrip(display);
        }
        std::cout << "ok" << std::endl;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(g.manager);
    if (g.seat) wl_seat_destroy(g.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return status;
}
