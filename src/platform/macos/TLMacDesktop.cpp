// The desktop on macOS: the check for clicks in other applications, the appearance and contrast
// the system asks for, what the window server offers and the keyboard's Control key.

#include "platform/TLDesktopColors.h"
#include "platform/TLPopover.h"
#include "platform/TLWindowSystem.h"

#include <QGuiApplication>
#include <QObject>
#include <QPalette>

#include <CoreFoundation/CoreFoundation.h>

#include <functional>
#include <map>

namespace {

// A click in another application makes that application the active one: this one resigns, which
// Qt reports as the application state turning inactive. Clicks in this application's own windows
// (the panel, its menus) keep it active and are not reported.
class MacOutsideClickMonitor final : public TLOutsideClickMonitor {
public:
    MacOutsideClickMonitor() {
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &_context,
                         [this](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationInactive) return;
                             // A copy: a handler may remove itself (closing the panel does).
                             const auto handlers = _handlers;
                             for (const auto& [token, handler] : handlers)
                                 if (_handlers.count(token)) handler();
                         });
    }
    int install(std::function<void()> handler) override {
        const int token = ++_next;
        _handlers.emplace(token, std::move(handler));
        return token;
    }
    void remove(int token) override { _handlers.erase(token); }

private:
    QObject _context;
    std::map<int, std::function<void()>> _handlers;
    int _next = 0;
};

} // namespace

std::unique_ptr<TLOutsideClickMonitor> TLMakeOutsideClickMonitor() {
    return std::make_unique<MacOutsideClickMonitor>();
}

void TLWatchDesktopColors(QObject*, std::function<void()>, const QString&) {
    // The menu bar's appearance comes with the palette, which Qt keeps up to date.
}

std::optional<bool> TLTrayBarIsDark() {
    // The menu bar follows the system appearance, which Qt hands over as the palette.
    return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

std::optional<bool> TLWindowsAreDark() {
    // Qt's palette follows the system appearance as it changes.
    return std::nullopt;
}

bool TLDesktopWantsHighContrast() {
    // System Settings → Accessibility → Display → Increase contrast.
    const CFStringRef key =
        CFStringCreateWithCString(kCFAllocatorDefault, "increaseContrast", kCFStringEncodingUTF8);
    const CFStringRef domain = CFStringCreateWithCString(
        kCFAllocatorDefault, "com.apple.universalaccess", kCFStringEncodingUTF8);
    Boolean valid = false;
    const Boolean on = key && domain ? CFPreferencesGetAppBooleanValue(key, domain, &valid) : false;
    if (key) CFRelease(key);
    if (domain) CFRelease(domain);
    return valid && on;
}

bool TLWindowSystemComposites() {
    // The window server always composites: translucent corners blend with what lies behind.
    return true;
}

bool TLControlKeyHeld() {
    // Qt maps the Control key to the Meta modifier on macOS.
    return QGuiApplication::queryKeyboardModifiers() & Qt::MetaModifier;
}

void TLKeepOutOfTaskbar(QWidget*) {}

void TLEndStartupFeedback(const QString&) {}

QRect TLTopLevelWindowRectAt(const QPoint&) {
    return {};
}
