// Critical memory pressure on macOS: the kernel's memory-pressure dispatch source says when the
// level changes, and the notification goes through the user-notification centre, whose action
// buttons come back through a delegate. The Objective-C classes are reached through the runtime,
// so that this file stays C++ like the rest.

#include "platform/TLNotifications.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>
#include <objc/message.h>
#include <objc/runtime.h>

namespace {

// ---------------------------------------------------------------- the pressure dispatch source

class MacPressureWatch final : public TLPressureWatch {
public:
    MacPressureWatch() {
        _source =
            dispatch_source_create(DISPATCH_SOURCE_TYPE_MEMORYPRESSURE, 0,
                                   DISPATCH_MEMORYPRESSURE_WARN | DISPATCH_MEMORYPRESSURE_CRITICAL,
                                   dispatch_get_main_queue());
        if (!_source) return;
        dispatch_set_context(_source, this);
        // On the main queue, which Qt's event loop drains: the main thread.
        dispatch_source_set_event_handler_f(_source, [](void* context) {
            emit static_cast<MacPressureWatch*>(context)->stalled();
        });
        dispatch_resume(_source);
    }
    ~MacPressureWatch() override {
        if (!_source) return;
        dispatch_source_cancel(_source);
        dispatch_release(_source);
    }
    bool valid() const { return _source != nullptr; }

private:
    dispatch_source_t _source = nullptr;
};

// ---------------------------------------------------------------- the Objective-C runtime

using Id = id;

template <typename R = Id, typename... A>
R send(Id target, const char* selector, A... args) {
    return reinterpret_cast<R (*)(Id, SEL, A...)>(objc_msgSend)(target, sel_registerName(selector),
                                                                args...);
}

Id cls(const char* name) {
    return reinterpret_cast<Id>(objc_getClass(name));
}

// An NSString (toll-free bridged from CFString), autoreleased by the caller's pool; owned here.
class NSStr {
public:
    explicit NSStr(const QString& s) : _s(s.toCFString()) {}
    ~NSStr() { CFRelease(_s); }
    NSStr(const NSStr&) = delete;
    NSStr& operator=(const NSStr&) = delete;
    operator Id() const { return reinterpret_cast<Id>(const_cast<__CFString*>(_s)); }

private:
    CFStringRef _s;
};

QString qstring(Id nsString) {
    return nsString ? QString::fromCFString(reinterpret_cast<CFStringRef>(nsString)) : QString();
}

constexpr unsigned long kAuthorizationAlert = 1 << 2;
constexpr unsigned long kAuthorizationSound = 1 << 1;
constexpr unsigned long kInterruptionTimeSensitive = 2; // as urgent as an app may be unentitled
constexpr unsigned long kPresentationBanner = 1 << 4;
constexpr unsigned long kPresentationList = 1 << 3;
constexpr unsigned long kActionForeground = 1 << 2;
const char* const kCategory = "dev.tide.monitor.pressure";
const char* const kDefaultAction = "com.apple.UNNotificationDefaultActionIdentifier";

class MacNotifications;
QPointer<MacNotifications> g_center; // the one the delegate reports to

class MacNotifications final : public TLNotificationCenter {
public:
    MacNotifications() {
        _center = send(cls("UNUserNotificationCenter"), "currentNotificationCenter");
        send<void>(_center, "setDelegate:", delegate());
        g_center = this;
        send<void>(_center, "requestAuthorizationWithOptions:completionHandler:",
                   kAuthorizationAlert | kAuthorizationSound,
                   ^(bool, Id){
                   });
    }
    ~MacNotifications() override { send<void>(_center, "setDelegate:", Id(nullptr)); }

    void post(const TLNotification& n) override {
        Id pool = send(send(cls("NSAutoreleasePool"), "alloc"), "init");
        // The actions, as a category the notification names (the end action's title names the
        // process, so the category is set again with each notification).
        Id actions = send(cls("NSMutableArray"), "array");
        for (const TLNotification::Action& a : n.actions) {
            const NSStr key(a.key), title(a.label);
            Id action =
                send(cls("UNNotificationAction"), "actionWithIdentifier:title:options:", Id(key),
                     Id(title), kActionForeground);
            send<void>(actions, "addObject:", action);
        }
        const NSStr category(QString::fromLatin1(kCategory));
        Id none = send(cls("NSArray"), "array");
        Id cat = send(cls("UNNotificationCategory"),
                      "categoryWithIdentifier:actions:intentIdentifiers:options:", Id(category),
                      actions, none, 0UL);
        send<void>(_center,
                   "setNotificationCategories:", send(cls("NSSet"), "setWithObject:", cat));

        Id content = send(send(cls("UNMutableNotificationContent"), "alloc"), "init");
        const NSStr title(n.title), body(n.body);
        send<void>(content, "setTitle:", Id(title));
        send<void>(content, "setBody:", Id(body));
        send<void>(content, "setCategoryIdentifier:", Id(category));
        send<void>(content, "setInterruptionLevel:", kInterruptionTimeSensitive);
        // One identifier: a new notification replaces the one still shown.
        Id request =
            send(cls("UNNotificationRequest"),
                 "requestWithIdentifier:content:trigger:", Id(category), content, Id(nullptr));
        send<void>(_center, "addNotificationRequest:withCompletionHandler:", request, Id(nullptr));
        send<void>(content, "release");
        send<void>(pool, "drain");
    }

    void chosen(const QString& key) { emit actionInvoked(key); }

private:
    // An NSObject subclass made once, answering the two delegate calls.
    static Id delegate() {
        static Id instance = [] {
            Class c =
                objc_allocateClassPair(objc_getClass("NSObject"), "TLNotificationDelegate", 0);
            class_addMethod(
                c,
                sel_registerName("userNotificationCenter:didReceiveNotificationResponse:"
                                 "withCompletionHandler:"),
                reinterpret_cast<IMP>(+[](Id, SEL, Id, Id response, Id handler) {
                    QString key = qstring(send(response, "actionIdentifier"));
                    if (key == QLatin1String(kDefaultAction)) key = QStringLiteral("open-panel");
                    // Carried out on the main thread, whichever queue this runs on.
                    if (QObject* target = g_center.data())
                        QMetaObject::invokeMethod(
                            target,
                            [key] {
                                if (g_center) g_center->chosen(key);
                            },
                            Qt::QueuedConnection);
                    ((void (^)())handler)();
                }),
                "v@:@@@?");
            class_addMethod(c,
                            sel_registerName("userNotificationCenter:willPresentNotification:"
                                             "withCompletionHandler:"),
                            reinterpret_cast<IMP>(+[](Id, SEL, Id, Id, Id handler) {
                                // Shown even while the application is the active one.
                                ((void (^)(unsigned long))handler)(kPresentationBanner |
                                                                   kPresentationList);
                            }),
                            "v@:@@@?");
            objc_registerClassPair(c);
            return send(send(reinterpret_cast<Id>(c), "alloc"), "init");
        }();
        return instance;
    }
    Id _center = nullptr;
};

} // namespace

std::unique_ptr<TLNotificationCenter> TLMakeNotificationCenter() {
    // The notification centre belongs to an application bundle; a bare executable has none (and
    // asking for the centre there raises an exception).
    if (!send(send(cls("NSBundle"), "mainBundle"), "bundleIdentifier")) return nullptr;
    return std::make_unique<MacNotifications>();
}

std::unique_ptr<TLPressureWatch> TLMakePressureWatch(QString* whyNot) {
    auto watch = std::make_unique<MacPressureWatch>();
    if (watch->valid()) return watch;
    if (whyNot) *whyNot = QStringLiteral("no memory-pressure dispatch source");
    return nullptr;
}

std::unique_ptr<TLKillWatch> TLMakeKillWatch(QString* whyNot) {
    // The system ends programs for memory (jetsam) without a public account of whom.
    if (whyNot) *whyNot = QStringLiteral("macOS tells no program of the processes it ends");
    return nullptr;
}
