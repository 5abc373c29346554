#pragma once
// The hosts that can show the status item, and the host switch that picks one:
//
//   ShellExtension      Tide's own GNOME Shell extension, a button in the top bar that shows the
//                       picture and the title (platform/linux/tray/TLShellExtensionItem)
//   XEmbedTray          an X11 tray that embeds the icon as a window of ours and tells where it
//                       is (platform/linux/TLXEmbedTray)
//   StatusNotifierHost  a panel on the session bus that draws the icon itself from what the item
//                       exports (platform/linux/TLStatusNotifierHost); the item is Tide's own
//                       (platform/linux/tray/TLStatusNotifierItem)
//   MenuBar             the macOS menu bar, whose item is as wide as its picture
//                       (app/TLMenuBarItem, platform/macos/TLMenuBarHost)
//   NoTrayWindow        none of them is there: the panel shows as an ordinary window
//                       (platform/qt/TLNoTrayWindow)
//
// Each system lists the hosts it can have (TLSystemStatusHosts: one definition per OS); the switch
// takes the first of them that is there. The status item (platform/qt/TLTrayStatusItem) asks it
// again whenever a host may have come or gone, and shows itself in one host at a time: through
// Qt's tray icon, or through the item the host's probe makes.

#include <QObject>

class TLStatusItem;

#include <functional>
#include <memory>
#include <vector>

enum class TLStatusHost { NoTrayWindow, XEmbedTray, StatusNotifierHost, MenuBar, ShellExtension };

struct TLStatusHostProbe {
    TLStatusHost host = TLStatusHost::NoTrayWindow;
    // Whether the host is there now.
    std::function<bool()> present;
    // Follows the host: calls `changed` whenever it may have come or gone, until the object it
    // returns (owned by `parent`) is deleted. Empty for a host that is always there.
    std::function<QObject*(std::function<void()> changed, QObject* parent)> watch;
    // For a host that shows an item of this program's own making rather than Qt's tray icon: makes
    // it. The item is in the host while it exists. Null where it cannot be made.
    std::function<std::unique_ptr<TLStatusItem>()> makeItem;
};

// The hosts of this system, in the order the switch tries them.
const std::vector<TLStatusHostProbe>& TLSystemStatusHosts();

// The host switch: the first of `hosts` that is there (the later ones are not asked);
// NoTrayWindow when none is.
TLStatusHost TLPickStatusHost(const std::vector<TLStatusHostProbe>& hosts);
// The probe of `host` among `hosts`; null when it is not one of them.
const TLStatusHostProbe* TLFindStatusHostProbe(const std::vector<TLStatusHostProbe>& hosts,
                                               TLStatusHost host);

// Follows every host of `hosts` that can come and go, calling `changed` when one may have. It
// checks nothing itself: the caller asks the switch again. Deleting the returned object stops the
// watching; null when no host comes or goes.
std::unique_ptr<QObject> TLWatchStatusHosts(const std::vector<TLStatusHostProbe>& hosts,
                                            std::function<void()> changed);

// Whether the host gives the item room for the gauge and the text side by side in one wide
// picture (the menu bar), rather than a square slot (the trays).
bool TLStatusHostHasRoomBesideImage(TLStatusHost host);
