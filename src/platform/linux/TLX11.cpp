// X11 facts and events that Qt does not expose: whether a compositor runs, and mouse presses that
// go to other applications (XInput 2 raw events on the root window, the X11 counterpart of a
// global event monitor). Everything falls back quietly when the session is not X11.

#include "platform/TLDesktop.h"
#include "platform/TLLayerShell.h"
#include "platform/TLWindowSystem.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

bool isX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// A connection of our own to the X server, separate from Qt's, so that selecting events on the
// root window cannot disturb what Qt selected there.
class X11Connection {
public:
    X11Connection() {
        _c = xcb_connect(nullptr, &_screen);
        if (xcb_connection_has_error(_c)) {
            xcb_disconnect(_c);
            _c = nullptr;
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(_c));
        for (int i = 0; i < _screen && it.rem; ++i)
            xcb_screen_next(&it);
        _root = it.rem ? it.data->root : XCB_NONE;
    }
    ~X11Connection() {
        if (_c) xcb_disconnect(_c);
    }
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* get() const { return _c; }
    xcb_window_t root() const { return _root; }
    int screen() const { return _screen; }

private:
    xcb_connection_t* _c = nullptr;
    xcb_window_t _root = XCB_NONE;
    int _screen = 0;
};

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> owned(Reply* r) {
    return ReplyPtr<Reply>(r, &std::free);
}

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
        if (isX11()) startX11();
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
        _x = std::make_unique<X11Connection>();
        xcb_connection_t* c = _x->get();
        if (!c || _x->root() == XCB_NONE) return;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
        if (!ext || !ext->present) return;
        auto version = owned(
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
        xcb_flush(c);
        _notifier =
            std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        QObject::connect(_notifier.get(), &QSocketNotifier::activated, &_context,
                         [this] { drain(); });
    }

    void drain() {
        xcb_connection_t* c = _x->get();
        bool pressed = false;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
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
        if (!pressed || _handlers.empty()) return;
        if (!pointerOnOwnWindow(c)) fire();
    }

    // Whether the pointer is over one of our windows: the windows under it from the root down to
    // the deepest one, checked against ours. Comparing positions would miss the tray icon, whose
    // window sits inside the tray's panel and knows its position only relative to it.
    bool pointerOnOwnWindow(xcb_connection_t* c) const {
        const std::set<xcb_window_t> own = ownWindowIds();
        xcb_window_t window = _x->root();
        for (int depth = 0; depth < 32; ++depth) {
            auto pointer = owned(xcb_query_pointer_reply(c, xcb_query_pointer(c, window), nullptr));
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
    std::unique_ptr<X11Connection> _x;
    std::unique_ptr<QSocketNotifier> _notifier;
    uint8_t _opcode = 0;
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

bool TLTrayHasRoomBesideImage() {
    return false; // a square slot, whatever the tray
}

bool TLWindowSystemComposites() {
    // Other window systems (Wayland) composite by design; so does the offscreen renderer, which
    // draws every window into its own image.
    if (!isX11()) return true;
    X11Connection x;
    xcb_connection_t* c = x.get();
    if (!c) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(x.screen());
    auto atom = owned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
    if (!atom || atom->atom == XCB_NONE) return false;
    auto owner =
        owned(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

namespace {

// Qt's own connection: requests on it are answered in order and disturb no event handling.
xcb_connection_t* qtConnection() {
    if (!isX11()) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, const std::string& name) {
    auto reply = owned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : XCB_NONE;
}

} // namespace

namespace {

// Follows the embedding tray of the screen on a connection of our own: a new tray announces
// itself with a MANAGER message on the root window, and the end of the tray's window ends it.
class XEmbedTrayWatch final : public QObject {
public:
    XEmbedTrayWatch(std::function<void()> changed, QObject* parent)
        : QObject(parent), _changed(std::move(changed)) {
        if (!isX11()) return;
        _x = std::make_unique<X11Connection>();
        xcb_connection_t* c = _x->get();
        if (!c || _x->root() == XCB_NONE) return;
        _selection = internAtom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(_x->screen()));
        _manager = internAtom(c, "MANAGER");
        if (_selection == XCB_NONE || _manager == XCB_NONE) return;
        // Structure events of the root window only: the tray's announcement is sent with this
        // mask. Nothing is said about other windows.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, _x->root(), XCB_CW_EVENT_MASK, &mask);
        auto owner = owned(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, _selection), nullptr));
        follow(owner ? owner->owner : XCB_NONE);
        _notifier =
            std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        connect(_notifier.get(), &QSocketNotifier::activated, this, [this] { drain(); });
    }

private:
    void follow(xcb_window_t owner) {
        _owner = owner;
        if (owner != XCB_NONE) {
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(_x->get(), owner, XCB_CW_EVENT_MASK, &mask);
        }
        xcb_flush(_x->get());
    }

    void drain() {
        xcb_connection_t* c = _x->get();
        bool changed = false;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
            switch (ev->response_type & 0x7f) {
            case XCB_CLIENT_MESSAGE: {
                const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(ev);
                if (m->type == _manager && m->format == 32 && m->data.data32[1] == _selection) {
                    follow(m->data.data32[2]);
                    changed = true;
                }
                break;
            }
            case XCB_DESTROY_NOTIFY: {
                const auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(ev);
                if (d->window == _owner && _owner != XCB_NONE) {
                    _owner = XCB_NONE;
                    changed = true;
                }
                break;
            }
            default: // errors (a window that ended before we selected on it) and root events
                break;
            }
            std::free(ev);
        }
        if (xcb_connection_has_error(c)) _notifier->setEnabled(false);
        if (changed) _changed();
    }

    std::function<void()> _changed;
    std::unique_ptr<X11Connection> _x;
    std::unique_ptr<QSocketNotifier> _notifier;
    xcb_atom_t _selection = XCB_NONE;
    xcb_atom_t _manager = XCB_NONE;
    xcb_window_t _owner = XCB_NONE;
};

} // namespace

QObject* TLWatchXEmbedTray(std::function<void()> changed, QObject* parent) {
    return new XEmbedTrayWatch(std::move(changed), parent);
}

bool TLXEmbedTrayPresent() {
    xcb_connection_t* c = qtConnection();
    if (!c) return false;
    static const xcb_atom_t selection = [c] {
        const char* display = std::getenv("DISPLAY");
        // The screen of ":0.1"; ":0" is screen 0.
        int screen = 0;
        if (display) {
            const std::string d(display);
            const size_t colon = d.rfind(':');
            const size_t dot = d.find('.', colon == std::string::npos ? 0 : colon);
            if (dot != std::string::npos) screen = std::atoi(d.c_str() + dot + 1);
        }
        return internAtom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
    }();
    if (selection == XCB_NONE) return false;
    auto owner =
        owned(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return owner && owner->owner != XCB_NONE;
}

QRect TLTopLevelWindowRectAt(const QPoint& point) {
    xcb_connection_t* c = qtConnection();
    if (!c) return {};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const qreal dpr = qGuiApp->devicePixelRatio();
    const auto x = static_cast<int16_t>(point.x() * dpr), y = static_cast<int16_t>(point.y() * dpr);
    auto at = owned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, root, root, x, y), nullptr));
    if (!at || at->child == XCB_NONE) return {};
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, at->child), nullptr));
    if (!geometry) return {};
    auto origin = owned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, at->child, root, 0, 0), nullptr));
    if (!origin) return {};
    return QRectF(origin->dst_x / dpr, origin->dst_y / dpr, geometry->width / dpr,
                  geometry->height / dpr)
        .toAlignedRect();
}

void TLKeepOutOfTaskbar(QWidget* window) {
    xcb_connection_t* c = qtConnection();
    if (!c || !window) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    static const xcb_atom_t state = internAtom(c, "_NET_WM_STATE");
    static const xcb_atom_t skipTaskbar = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    static const xcb_atom_t skipPager = internAtom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (state == XCB_NONE || skipTaskbar == XCB_NONE || skipPager == XCB_NONE) return;
    // Added to what the window already has: Qt merges its own states into this list when it maps
    // the window.
    std::vector<xcb_atom_t> atoms;
    auto reply = owned(xcb_get_property_reply(
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
