// The hosts a Linux desktop can show the status item in. The embedding tray is asked first: it
// answers on the X connection at once, where asking the session bus may wait.

#include "platform/TLStatusHost.h"
#include "platform/linux/TLStatusNotifierHost.h"
#include "platform/linux/TLXEmbedTray.h"

const std::vector<TLStatusHostProbe>& TLSystemStatusHosts() {
    static const std::vector<TLStatusHostProbe> hosts{
        {TLStatusHost::XEmbedTray, TLXEmbedTrayPresent, TLWatchXEmbedTray},
        {TLStatusHost::StatusNotifierHost, TLStatusNotifierHostPresent, TLWatchStatusNotifierHosts},
    };
    return hosts;
}
