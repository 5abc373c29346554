// The host switch: which host shows the status item.

#include "platform/TLStatusHost.h"

TLStatusHost TLPickStatusHost(const std::vector<TLStatusHostProbe>& hosts) {
    for (const TLStatusHostProbe& probe : hosts)
        if (probe.present && probe.present()) return probe.host;
    return TLStatusHost::NoTrayWindow;
}

const TLStatusHostProbe* TLFindStatusHostProbe(const std::vector<TLStatusHostProbe>& hosts,
                                               TLStatusHost host) {
    for (const TLStatusHostProbe& probe : hosts)
        if (probe.host == host) return &probe;
    return nullptr;
}

std::unique_ptr<QObject> TLWatchStatusHosts(const std::vector<TLStatusHostProbe>& hosts,
                                            std::function<void()> changed) {
    std::unique_ptr<QObject> owner;
    for (const TLStatusHostProbe& probe : hosts) {
        if (!probe.watch) continue;
        if (!owner) owner = std::make_unique<QObject>();
        probe.watch(changed, owner.get());
    }
    return owner;
}

bool TLStatusHostHasRoomBesideImage(TLStatusHost host) {
    return host == TLStatusHost::MenuBar; // a status item is as wide as its content
}
