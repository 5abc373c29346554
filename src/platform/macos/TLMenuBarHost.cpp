// The host of the status item on macOS: the menu bar, which is always there. Its picture is drawn
// by app/TLMenuBarItem.

#include "platform/TLStatusHost.h"

const std::vector<TLStatusHostProbe>& TLSystemStatusHosts() {
    static const std::vector<TLStatusHostProbe> hosts{
        {TLStatusHost::MenuBar, [] { return true; }, {}, {}},
    };
    return hosts;
}
