// A pointer and a keyboard for the Wayland end-to-end test: moves the compositor's cursor and
// clicks, through the wlroots virtual-pointer protocol, and presses Escape through the
// virtual-keyboard protocol. One device each for the whole run (a device that comes and goes
// would take the pointer or the keyboard away from every client each time). Usage:
//   tide-test-pointer WIDTH HEIGHT
// then one command a line on standard input, each answered with "ok" once the compositor has
// seen it:
//   move X Y
//   click X Y left|right
//   escape
// WIDTH and HEIGHT are the size of the output layout in logical pixels (absolute motion is
// scaled to it).

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include "wayland/us_keymap.h"

#include <wayland-client.h>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

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
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
};

const auto& kKeymap = kUsKeymap; // (sizeof is the text's, with its final NUL)

// The keyboard, with its keymap handed over in a memory file.
zwp_virtual_keyboard_v1* makeKeyboard(const Globals& g) {
    if (!g.keyboards || !g.seat) return nullptr;
    const int fd = memfd_create("tide-keymap", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    const size_t size = sizeof kKeymap; // with the final NUL, as wl_keyboard expects
    if (write(fd, kKeymap, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return nullptr;
    }
    zwp_virtual_keyboard_v1* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.keyboards, g.seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    close(fd);
    return keyboard;
}

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* g = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !g->seat)
        g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        g->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        g->keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
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
    zwp_virtual_keyboard_v1* keyboard = makeKeyboard(g);
    wl_display_roundtrip(display);

    int status = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string action, button = "left";
        int x = -1, y = -1;
        in >> action;
        if (action == "escape" && keyboard) {
            zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_ESC, WL_KEYBOARD_KEY_STATE_PRESSED);
            wl_display_roundtrip(display);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_ESC, WL_KEYBOARD_KEY_STATE_RELEASED);
            wl_display_roundtrip(display);
            std::cout << "ok" << std::endl;
            continue;
        }
        in >> x >> y >> button;
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
    if (keyboard) zwp_virtual_keyboard_v1_destroy(keyboard);
    if (g.keyboards) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(g.keyboards));
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(g.manager);
    if (g.seat) wl_seat_destroy(g.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return status;
}
