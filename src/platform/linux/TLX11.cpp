// X11 facts and events that Qt does not expose: whether a compositor runs, mouse presses that go
// to other applications (XInput 2 raw events on the root window, the X11 counterpart of a global
// event monitor), the window under a point, and a window's place outside the taskbar. Everything
// falls back quietly when the session is not X11. The tray that embeds icons has its own file
// (TLXEmbedTray.cpp).

#include "platform/TLLayerShell.h"
#include "platform/TLPopover.h"
#include "platform/TLSessionPlatform.h"
#include "platform/TLWindowSystem.h"
#include "platform/linux/TLXcb.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// The X11 ids of this application's windows that exist on the server: the popover, its menus and
// alerts, and the tray icon, which the tray embeds as our own window inside its panel.
std::set<xcb_window_t> ownWindowIds() {
    std::set<xcb_window_t> ids;
    for (QWindow* w : QGuiApplication::allWindows())
        if (w->handle()) ids.insert(static_cast<xcb_window_t>(w->winId()));
    return ids;
}

class X11OutsideClickMonitor final : public TLOutsideClickMonitor {
public:
    X11OutsideClickMonitor() {
        if (TLX11Session()) startX11();
        if (TLLayerShell* shell = TLLayerShell::instance()) {
            // Wayland with the layer shell: covers over the screens take the presses outside.
            _covers = true;
            QObject::connect(shell, &TLLayerShell::outsidePressed, &_context, [this] { fire(); });
        }
        if (!_notifier && !_covers) {
            // Not X11 (or no XInput 2): another application becoming active is the sign. Not
            // where the covers take the presses: a compositor may move the keyboard focus
            // without any click (sway 1.10 follows the pointer onto another screen's workspace),
            // and the panel must not close because the pointer went to another screen.
            QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &_context,
                             [this](Qt::ApplicationState state) {
                                 if (state == Qt::ApplicationInactive) fire();
                             });
        }
    }

    int install(std::function<void()> handler) override {
        const int token = ++_lastToken;
        _handlers.emplace(token, std::move(handler));
        return token;
    }
    void remove(int token) override { _handlers.erase(token); }
    bool coversStatusItem() const override { return _covers; }

private:
    void startX11() {
        _x = std::make_unique<TLX11Connection>();
        xcb_connection_t* c = _x->get();
        if (!c || _x->root() == XCB_NONE) return;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
        if (!ext || !ext->present) return;
        auto version = TLXcbOwned(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 0), nullptr));
        if (!version || version->major_version < 2) return;
        _opcode = ext->major_opcode;
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } mask{};
        mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        mask.head.mask_len = 1;
        mask.mask = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
        xcb_input_xi_select_events(c, _x->root(), 1, &mask.head);
        // Under XWayland the X server sees no press over the shell or over Wayland windows; the
        // window manager's active window moving to another application is the sign there.
        if (!TLPointerPositionKnown()) {
            _activeWindow = TLXcbAtom(c, "_NET_ACTIVE_WINDOW");
            const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, _x->root(), XCB_CW_EVENT_MASK, &events);
        }
        xcb_flush(c);
        _notifier =
            std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        QObject::connect(_notifier.get(), &QSocketNotifier::activated, &_context,
                         [this] { drain(); });
    }

    void drain() {
        xcb_connection_t* c = _x->get();
        bool pressed = false;
        bool activeChanged = false;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
            if ((ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && _activeWindow != XCB_NONE &&
                reinterpret_cast<const xcb_property_notify_event_t*>(ev)->atom == _activeWindow)
                activeChanged = true;
            if ((ev->response_type & 0x7f) == XCB_GE_GENERIC) {
                const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(ev);
                if (ge->extension == _opcode && ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
                    const auto* raw =
                        reinterpret_cast<const xcb_input_raw_button_press_event_t*>(ev);
                    // Left and right buttons only: not the middle one, not wheel steps.
                    if (raw->detail == 1 || raw->detail == 3) pressed = true;
                }
            }
            std::free(ev);
        }
        if (xcb_connection_has_error(c)) {
            _notifier->setEnabled(false);
            return;
        }
        // The active window leaving ours counts, not one that is not ours yet (the panel opening
        // after a menu of the shell's closed).
        bool leftOwn = false;
        if (activeChanged) {
            const bool own = ownWindowActive(c);
            leftOwn = _ownActive && !own;
            _ownActive = own;
        }
        if (_handlers.empty()) return;
        if ((pressed && !pointerOnOwnWindow(c)) || leftOwn) fire();
    }

    // Whether the window manager's active window is one of ours (or none is known).
    bool ownWindowActive(xcb_connection_t* c) const {
        auto reply = TLXcbOwned(xcb_get_property_reply(
            c, xcb_get_property(c, 0, _x->root(), _activeWindow, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) < 4) return false;
        const auto active = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
        return active != XCB_NONE && ownWindowIds().count(active) > 0;
    }

    // Whether the pointer is over one of our windows: the windows under it from the root down to
    // the deepest one, checked against ours. Comparing positions would miss the tray icon, whose
    // window sits inside the tray's panel and knows its position only relative to it.
    bool pointerOnOwnWindow(xcb_connection_t* c) const {
        const std::set<xcb_window_t> own = ownWindowIds();
        xcb_window_t window = _x->root();
        for (int depth = 0; depth < 32; ++depth) {
            auto pointer =
                TLXcbOwned(xcb_query_pointer_reply(c, xcb_query_pointer(c, window), nullptr));
            if (!pointer || pointer->child == XCB_NONE) return false;
            window = pointer->child;
            if (own.count(window)) return true;
        }
        return false;
    }

    void fire() {
        // A handler may remove itself (or others) while running: call a copy.
        const auto handlers = _handlers;
        for (const auto& [token, handler] : handlers)
            if (_handlers.count(token)) handler();
    }

    QObject _context;
    std::unique_ptr<TLX11Connection> _x;
    std::unique_ptr<QSocketNotifier> _notifier;
    uint8_t _opcode = 0;
    xcb_atom_t _activeWindow = XCB_NONE; // watched under XWayland
    bool _ownActive = false;             // the active window is one of ours
    std::map<int, std::function<void()>> _handlers;
    int _lastToken = 0;
    bool _covers = false;
};

} // namespace

bool TLX11DisplayReachable(const QString& display) {
    xcb_connection_t* c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    const bool ok = !xcb_connection_has_error(c);
    xcb_disconnect(c); // also required for a connection in the error state
    return ok;
}

bool TLWindowSystemComposites() {
    // Other window systems (Wayland) composite by design; so does the offscreen renderer, which
    // draws every window into its own image.
    if (!TLX11Session()) return true;
    TLX11Connection x;
    xcb_connection_t* c = x.get();
    if (!c) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(x.screen());
    auto atom = TLXcbOwned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
    if (!atom || atom->atom == XCB_NONE) return false;
    auto owner = TLXcbOwned(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

QRect TLTopLevelWindowRectAt(const QPoint& point) {
    xcb_connection_t* c = TLQtXcbConnection();
    if (!c) return {};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const qreal dpr = qGuiApp->devicePixelRatio();
    const auto x = static_cast<int16_t>(point.x() * dpr), y = static_cast<int16_t>(point.y() * dpr);
    auto at = TLXcbOwned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, root, root, x, y), nullptr));
    if (!at || at->child == XCB_NONE) return {};
    auto geometry = TLXcbOwned(xcb_get_geometry_reply(c, xcb_get_geometry(c, at->child), nullptr));
    if (!geometry) return {};
    auto origin = TLXcbOwned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, at->child, root, 0, 0), nullptr));
    if (!origin) return {};
    return QRectF(origin->dst_x / dpr, origin->dst_y / dpr, geometry->width / dpr,
                  geometry->height / dpr)
        .toAlignedRect();
}

void TLEndStartupFeedback(const QString& id) {
    xcb_connection_t* c = TLQtXcbConnection();
    if (!c || id.isEmpty()) return;
    // The message's text, quoted as the protocol asks, goes to the root window in pieces of 20
    // bytes: the first as _NET_STARTUP_INFO_BEGIN, the rest as _NET_STARTUP_INFO, ending with the
    // text's terminating zero.
    QByteArray text = "remove: ID=\"";
    for (const char ch : id.toUtf8()) {
        if (ch == '"' || ch == '\\') text += '\\';
        text += ch;
    }
    text += '"';
    text += '\0';
    static const xcb_atom_t begin = TLXcbAtom(c, "_NET_STARTUP_INFO_BEGIN");
    static const xcb_atom_t more = TLXcbAtom(c, "_NET_STARTUP_INFO");
    if (begin == XCB_NONE || more == XCB_NONE) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    // The messages come from a window of the program's own, as the protocol asks.
    const xcb_window_t from = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, from, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (qsizetype at = 0; at < text.size(); at += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = from;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, text.constData() + at,
                    size_t(std::min<qsizetype>(20, text.size() - at)));
        xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(c, from);
    xcb_flush(c);
}

void TLKeepOutOfTaskbar(QWidget* window) {
    xcb_connection_t* c = TLQtXcbConnection();
    if (!c || !window) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    static const xcb_atom_t state = TLXcbAtom(c, "_NET_WM_STATE");
    static const xcb_atom_t skipTaskbar = TLXcbAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    static const xcb_atom_t skipPager = TLXcbAtom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (state == XCB_NONE || skipTaskbar == XCB_NONE || skipPager == XCB_NONE) return;
    // Added to what the window already has: Qt merges its own states into this list when it maps
    // the window.
    std::vector<xcb_atom_t> atoms;
    auto reply = TLXcbOwned(xcb_get_property_reply(
        c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        atoms.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
    }
    for (xcb_atom_t a : {skipTaskbar, skipPager})
        if (std::find(atoms.begin(), atoms.end(), a) == atoms.end()) atoms.push_back(a);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
    xcb_flush(c);
}

std::unique_ptr<TLOutsideClickMonitor> TLMakeOutsideClickMonitor() {
    return std::make_unique<X11OutsideClickMonitor>();
}
