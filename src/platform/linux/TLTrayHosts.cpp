// The hosts a Linux desktop can show the status item in. A StatusNotifierItem host is asked first:
// where one runs, Tide's own item shows there, with the click positions and activation tokens
// the host tells (an X11 desktop may run an embedding tray beside it, or one that hands embedded
// icons on to the host). The embedding tray is for desktops without one.

#include "platform/TLStatusHost.h"
#include "platform/linux/TLStatusNotifierHost.h"
#include "platform/linux/TLXEmbedTray.h"
#include "platform/linux/tray/TLStatusNotifierItem.h"

const std::vector<TLStatusHostProbe>& TLSystemStatusHosts() {
    static const std::vector<TLStatusHostProbe> hosts{
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
