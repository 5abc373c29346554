// The hosts a Linux desktop can show the status item in. Tide's own GNOME Shell extension is asked
// first: where it is enabled, the button it draws in the top bar is the item. Then a
// StatusNotifierItem host:
// where one runs, Tide's own item shows there, with the click positions and activation tokens
// the host tells (an X11 desktop may run an embedding tray beside it, or one that hands embedded
// icons on to the host). The embedding tray is for desktops without one. The first two are on the
// session bus, and follow it to a new one when it is lost (TLSessionBus).

#include "platform/TLStatusHost.h"
#include "platform/linux/TLSessionBus.h"
#include "platform/linux/TLStatusNotifierHost.h"
#include "platform/linux/TLXEmbedTray.h"
#include "platform/linux/tray/TLShellExtensionItem.h"
#include "platform/linux/tray/TLStatusNotifierItem.h"

const std::vector<TLStatusHostProbe>& TLSystemStatusHosts() {
    static const std::vector<TLStatusHostProbe> hosts{
        {TLStatusHost::ShellExtension, [] { return TLShellExtensionPresent(); },
         [](std::function<void()> changed, QObject* parent) {
             return TLOnSessionBus(
                 parent,
                 [changed](QDBusConnection bus, QObject* owner) {
                     TLWatchShellExtension(changed, owner, std::move(bus));
                 },
                 changed);
         },
         []() -> std::unique_ptr<TLStatusItem> {
             auto item = std::make_unique<TLShellExtensionItem>();
             if (!item->isExported()) return nullptr;
             return item;
         }},
        {TLStatusHost::StatusNotifierHost, TLStatusNotifierHostPresent, TLWatchStatusNotifierHosts,
         []() -> std::unique_ptr<TLStatusItem> {
             auto item = std::make_unique<TLStatusNotifierItem>();
             if (!item->isExported()) return nullptr; // no session bus: Qt's tray icon tries
             return item;
         }},
        {TLStatusHost::XEmbedTray, TLXEmbedTrayPresent, TLWatchXEmbedTray, {}},
    };
    return hosts;
}
