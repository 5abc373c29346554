#pragma once
// The small pieces of XCB that the X11 files share: whether the session is X11, a connection of
// our own, Qt's connection, replies that free themselves, and atoms by name.

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

inline bool TLX11Session() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// A connection of our own to the X server, separate from Qt's, so that selecting events on the
// root window cannot disturb what Qt selected there.
class TLX11Connection {
public:
    TLX11Connection() {
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
    ~TLX11Connection() {
        if (_c) xcb_disconnect(_c);
    }
    TLX11Connection(const TLX11Connection&) = delete;
    TLX11Connection& operator=(const TLX11Connection&) = delete;

    xcb_connection_t* get() const { return _c; }
    xcb_window_t root() const { return _root; }
    int screen() const { return _screen; }

private:
    xcb_connection_t* _c = nullptr;
    xcb_window_t _root = XCB_NONE;
    int _screen = 0;
};

template <typename Reply>
using TLXcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
TLXcbReply<Reply> TLXcbOwned(Reply* r) {
    return TLXcbReply<Reply>(r, &std::free);
}

// Qt's own connection: requests on it are answered in order and disturb no event handling. Null
// when the session is not X11.
inline xcb_connection_t* TLQtXcbConnection() {
    if (!TLX11Session()) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

inline xcb_atom_t TLXcbAtom(xcb_connection_t* c, const std::string& name) {
    auto reply = TLXcbOwned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : XCB_NONE;
}
