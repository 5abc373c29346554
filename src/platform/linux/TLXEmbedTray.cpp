// The XEmbed tray: whether one runs, and its comings and goings.

#include "platform/linux/TLXEmbedTray.h"

#include "platform/linux/TLXcb.h"

#include <QSocketNotifier>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Follows the embedding tray of the screen on a connection of our own: a new tray announces
// itself with a MANAGER message on the root window, and the end of the tray's window ends it.
class XEmbedTrayWatch final : public QObject {
public:
    XEmbedTrayWatch(std::function<void()> changed, QObject* parent)
        : QObject(parent), _changed(std::move(changed)) {
        if (!TLX11Session()) return;
        _x = std::make_unique<TLX11Connection>();
        xcb_connection_t* c = _x->get();
        if (!c || _x->root() == XCB_NONE) return;
        _selection = TLXcbAtom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(_x->screen()));
        _manager = TLXcbAtom(c, "MANAGER");
        if (_selection == XCB_NONE || _manager == XCB_NONE) return;
        // Structure events of the root window only: the tray's announcement is sent with this
        // mask. Nothing is said about other windows.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, _x->root(), XCB_CW_EVENT_MASK, &mask);
        auto owner = TLXcbOwned(
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
    std::unique_ptr<TLX11Connection> _x;
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
    xcb_connection_t* c = TLQtXcbConnection();
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
        return TLXcbAtom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
    }();
    if (selection == XCB_NONE) return false;
    auto owner = TLXcbOwned(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return owner && owner->owner != XCB_NONE;
}
