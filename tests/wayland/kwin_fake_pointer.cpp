// A pointer and a keyboard for the Plasma Wayland test: moves KWin's cursor, clicks and presses
// keys through KWin's fake-input protocol (KWin has no wlroots virtual pointer). KWin offers the
// protocol only to a program whose desktop entry names it in X-KDE-Wayland-Interfaces, found by
// the program's executable path: the test writes that entry. Usage:
//   tide-test-kwin-pointer
// then one command a line on standard input, each answered with "ok" once KWin has seen it:
//   move X Y                  (global logical coordinates)
//   click X Y left|right
//   key CODE...               (Linux key codes, pressed and released one after the other)
// Exits with status 3 when KWin does not offer the protocol to this program.

#include "fake-input-client-protocol.h"

#include <wayland-client.h>

#include <linux/input-event-codes.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

org_kde_kwin_fake_input* gFakeInput = nullptr;
uint32_t gVersion = 0;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        gVersion = std::min<uint32_t>(version, 4);
        gFakeInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, gVersion));
    }
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {global, globalRemove};

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "tide-test-kwin-pointer: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, nullptr);
    wl_display_roundtrip(display);
    if (!gFakeInput || gVersion < 4) {
        std::fprintf(stderr,
                     "tide-test-kwin-pointer: KWin offers no fake input (version 4) here\n");
        return 3;
    }
    org_kde_kwin_fake_input_authenticate(gFakeInput, "tide-test-kwin-pointer",
                                         "Tide's desktop test");
    wl_display_roundtrip(display);

    int status = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string action;
        in >> action;
        if (action == "key") {
            int code = 0;
            while (in >> code) {
                org_kde_kwin_fake_input_keyboard_key(gFakeInput, static_cast<uint32_t>(code),
                                                     WL_KEYBOARD_KEY_STATE_PRESSED);
                wl_display_roundtrip(display);
                sleepMs(30);
                org_kde_kwin_fake_input_keyboard_key(gFakeInput, static_cast<uint32_t>(code),
                                                     WL_KEYBOARD_KEY_STATE_RELEASED);
                wl_display_roundtrip(display);
                sleepMs(60);
            }
            std::cout << "ok" << std::endl;
            continue;
        }
        int x = -1, y = -1;
        std::string button = "left";
        in >> x >> y >> button;
        if ((action != "move" && action != "click") || x < 0 || y < 0) {
            std::fprintf(stderr, "tide-test-kwin-pointer: bad command: %s\n", line.c_str());
            status = 2;
            break;
        }
        org_kde_kwin_fake_input_pointer_motion_absolute(gFakeInput, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
        wl_display_roundtrip(display);
        if (action == "click") {
            // A short press, as a hand makes it: clients see the motion before the button.
            sleepMs(30);
            const uint32_t code = button == "right" ? BTN_RIGHT : BTN_LEFT;
            org_kde_kwin_fake_input_button(gFakeInput, code, WL_POINTER_BUTTON_STATE_PRESSED);
            wl_display_roundtrip(display);
            sleepMs(40);
            org_kde_kwin_fake_input_button(gFakeInput, code, WL_POINTER_BUTTON_STATE_RELEASED);
            wl_display_roundtrip(display);
        }
        std::cout << "ok" << std::endl;
    }
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(gFakeInput));
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return status;
}
