// How long a click on the tray icon takes to show what it opens, on an X server, timed by the
// server itself: the press's time (an XInput 2 raw event on the root window) against the time of
// the damage report that completes the first picture of the window the click mapped (every pixel
// inside its shape drawn at least once). Without a compositor that picture is what the screen
// shows.
//   x11_click X Y BUTTON COUNT CLOSE_X CLOSE_Y
// presses BUTTON at X,Y (XTest) COUNT times; after each opening a left click at CLOSE_X,CLOSE_Y
// closes it again. Prints one line per opening, the milliseconds, or "none" where nothing came
// within 10 s. Ends with status 1 when an opening showed nothing.
//   x11_click watch [WIDTH]
// where the press is made elsewhere (a compositor's own pointer): prints "ready" once it watches,
// then the server's time (ms) of the first complete picture of a window mapped from then on (only
// a window WIDTH pixels wide, where given), or "none" after 10 s (status 1).

#include <xcb/damage.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(10);
// A click on the icon just after an outside click closed what it opened counts as the same
// gesture (and is ignored): the openings are this far apart.
constexpr auto kGap = std::chrono::milliseconds(700);

struct Connection {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ~Connection() { xcb_disconnect(c); }
};

// A window the click may have mapped: which of its pixels have been drawn since it was mapped.
struct Watched {
    xcb_damage_damage_t damage = 0;
    int width = 0, height = 0;
    std::vector<bool> drawn;
    long left = 0; // pixels not drawn yet
    bool mapped = false;
};

class Watcher {
public:
    explicit Watcher(xcb_connection_t* c) : _c(c) {
        _root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        _damageBase = xcb_get_extension_data(c, &xcb_damage_id)->first_event;
        free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, _root, XCB_CW_EVENT_MASK, &mask);
        struct {
            xcb_input_event_mask_t head;
            uint32_t bits;
        } raw{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
        xcb_input_xi_select_events(c, _root, 1, &raw.head);
        xcb_flush(c);
    }

    void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0) {
        xcb_test_fake_input(_c, type, detail, XCB_CURRENT_TIME, _root, int16_t(x), int16_t(y), 0);
        xcb_flush(_c);
    }

    void click(int x, int y, uint8_t button) {
        fake(XCB_MOTION_NOTIFY, 0, x, y);
        fake(XCB_BUTTON_PRESS, button);
        fake(XCB_BUTTON_RELEASE, button);
    }

    // Milliseconds from the press of `button` to the first complete picture of a window mapped
    // after it; the window in `shown`.
    std::optional<long> timeOpening(int x, int y, uint8_t button, xcb_window_t& shown) {
        _pressTime.reset();
        click(x, y, button);
        const auto end = Clock::now() + kWait;
        while (auto ev = next(end)) {
            if (auto done = handle(ev.get(), button)) {
                shown = *done;
                return long(_doneTime - *_pressTime);
            }
        }
        return std::nullopt;
    }

    // The server's time of the first complete picture of a window mapped from now on.
    std::optional<xcb_timestamp_t> timeShown(int width) {
        _pressTime = 0;
        _width = width;
        const auto end = Clock::now() + kWait;
        while (auto ev = next(end))
            if (handle(ev.get(), 0)) return _doneTime;
        return std::nullopt;
    }

    // Once the server has seen what this watcher asked to hear.
    void sync() { free(xcb_get_input_focus_reply(_c, xcb_get_input_focus(_c), nullptr)); }

    bool waitUnmapped(xcb_window_t w) {
        const auto end = Clock::now() + kWait;
        while (_windows[w].mapped) {
            auto ev = next(end);
            if (!ev) return false;
            handle(ev.get(), 0);
        }
        return true;
    }

    void drain() {
        while (auto* ev = xcb_poll_for_event(_c)) {
            handle(ev, 0);
            free(ev);
        }
    }

private:
    std::unique_ptr<xcb_generic_event_t, decltype(&free)> next(Clock::time_point end) {
        for (;;) {
            if (auto* ev = xcb_poll_for_event(_c)) return {ev, &free};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0 || xcb_connection_has_error(_c)) return {nullptr, &free};
            pollfd p{xcb_get_file_descriptor(_c), POLLIN, 0};
            poll(&p, 1, int(left.count()));
        }
    }

    void watch(xcb_window_t w) {
        Watched& win = _windows[w];
        if (win.damage) return;
        win.damage = xcb_generate_id(_c);
        xcb_damage_create(_c, win.damage, w, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        xcb_flush(_c);
    }

    void mapped(xcb_window_t w) {
        watch(w);
        Watched& win = _windows[w];
        win.mapped = true;
        win.width = win.height = 0; // known from the first damage report
    }

    // The window whose picture this event completed, if any.
    std::optional<xcb_window_t> handle(xcb_generic_event_t* ev, uint8_t button) {
        const uint8_t type = ev->response_type & 0x7f;
        if (type == XCB_GE_GENERIC) {
            auto* raw = reinterpret_cast<xcb_input_raw_button_press_event_t*>(ev);
            if (raw->event_type == XCB_INPUT_RAW_BUTTON_PRESS && raw->detail == button &&
                !_pressTime)
                _pressTime = raw->time;
        } else if (type == XCB_CREATE_NOTIFY) {
            watch(reinterpret_cast<xcb_create_notify_event_t*>(ev)->window);
        } else if (type == XCB_MAP_NOTIFY) {
            mapped(reinterpret_cast<xcb_map_notify_event_t*>(ev)->window);
        } else if (type == XCB_UNMAP_NOTIFY) {
            _windows[reinterpret_cast<xcb_unmap_notify_event_t*>(ev)->window].mapped = false;
        } else if (type == _damageBase + XCB_DAMAGE_NOTIFY) {
            return damaged(reinterpret_cast<xcb_damage_notify_event_t*>(ev));
        }
        return std::nullopt;
    }

    // Nothing drawn yet of what the window shows: the pixels inside its shape (all of them, for a
    // window that has none; rounded corners are outside).
    void resetDrawn(xcb_window_t w, Watched& win, int width, int height) {
        win.width = width;
        win.height = height;
        win.drawn.assign(size_t(width) * size_t(height), true);
        win.left = 0;
        std::unique_ptr<xcb_shape_get_rectangles_reply_t, decltype(&free)> shape(
            xcb_shape_get_rectangles_reply(
                _c, xcb_shape_get_rectangles(_c, w, XCB_SHAPE_SK_BOUNDING), nullptr),
            &free);
        const xcb_rectangle_t whole{0, 0, uint16_t(width), uint16_t(height)};
        const xcb_rectangle_t* rects =
            shape ? xcb_shape_get_rectangles_rectangles(shape.get()) : &whole;
        const int n = shape ? xcb_shape_get_rectangles_rectangles_length(shape.get()) : 1;
        for (int i = 0; i < n; ++i)
            mark(win, rects[i], false);
    }

    // Sets the pixels of `r` to `drawn`, counting the ones still to draw.
    static void mark(Watched& win, const xcb_rectangle_t& r, bool drawn) {
        const int x0 = std::max(0, int(r.x)), y0 = std::max(0, int(r.y));
        const int x1 = std::min(win.width, r.x + r.width);
        const int y1 = std::min(win.height, r.y + r.height);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const size_t at = size_t(y) * size_t(win.width) + size_t(x);
                if (win.drawn[at] == drawn) continue;
                win.drawn[at] = drawn;
                win.left += drawn ? -1 : 1;
            }
        }
    }

    std::optional<xcb_window_t> damaged(const xcb_damage_notify_event_t* ev) {
        auto it = _windows.find(ev->drawable);
        if (it == _windows.end() || !it->second.mapped || !_pressTime) return std::nullopt;
        Watched& win = it->second;
        if (win.width != ev->geometry.width || win.height != ev->geometry.height)
            resetDrawn(ev->drawable, win, ev->geometry.width, ev->geometry.height);
        mark(win, ev->area, true);
        // Tool tips and one-line notes are not what a click opens.
        if (win.left > 0 || win.width < 64 || win.height < 48 || (_width && win.width != _width))
            return std::nullopt;
        _doneTime = ev->timestamp;
        win.left = -1; // reported once per mapping
        return ev->drawable;
    }

    xcb_connection_t* _c;
    xcb_window_t _root = 0;
    uint8_t _damageBase = 0;
    std::map<xcb_window_t, Watched> _windows;
    std::optional<xcb_timestamp_t> _pressTime;
    xcb_timestamp_t _doneTime = 0;
    int _width = 0; // only windows this wide count, where not 0
};

} // namespace

int watchOnly(Watcher& watcher, int width) {
    watcher.sync();
    std::printf("ready\n");
    std::fflush(stdout);
    const auto shown = watcher.timeShown(width);
    if (shown)
        std::printf("%u\n", unsigned(*shown));
    else
        std::printf("none\n");
    return shown ? 0 : 1;
}

int main(int argc, char** argv) {
    const bool watch = (argc == 2 || argc == 3) && std::string_view(argv[1]) == "watch";
    if (argc != 7 && !watch) {
        std::fprintf(
            stderr,
            "usage: x11_click X Y BUTTON COUNT CLOSE_X CLOSE_Y | x11_click watch [WIDTH]\n");
        return 2;
    }
    Connection conn;
    if (xcb_connection_has_error(conn.c)) {
        std::fprintf(stderr, "x11_click: cannot connect to the X server\n");
        return 2;
    }
    const std::pair<xcb_extension_t*, const char*> needed[] = {
        {&xcb_damage_id, "DAMAGE"}, {&xcb_input_id, "XInputExtension"}, {&xcb_test_id, "XTEST"}};
    for (const auto& [ext, name] : needed) {
        const auto* data = xcb_get_extension_data(conn.c, ext);
        if (!data || !data->present) {
            std::fprintf(stderr, "x11_click: the X server lacks %s\n", name);
            return 2;
        }
    }
    Watcher watcher(conn.c);
    if (watch) return watchOnly(watcher, argc == 3 ? std::atoi(argv[2]) : 0);
    const int x = std::atoi(argv[1]), y = std::atoi(argv[2]), count = std::atoi(argv[4]);
    const auto button = uint8_t(std::atoi(argv[3]));
    const int closeX = std::atoi(argv[5]), closeY = std::atoi(argv[6]);
    int status = 0;
    for (int i = 0; i < count; ++i) {
        watcher.drain();
        xcb_window_t shown = 0;
        const auto ms = watcher.timeOpening(x, y, button, shown);
        if (ms)
            std::printf("%ld\n", *ms);
        else
            std::printf("none\n");
        std::fflush(stdout);
        if (!ms) status = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        watcher.click(closeX, closeY, 1);
        if (ms && !watcher.waitUnmapped(shown)) {
            std::fprintf(stderr, "x11_click: what opened did not close\n");
            return 1;
        }
        std::this_thread::sleep_for(kGap);
    }
    return status;
}
