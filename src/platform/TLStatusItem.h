#pragma once
// The status item the application drives: an interface, so that the application's state machine
// runs headless in tests.

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

class QMenu;

// A picture for the status item, and a key of its pixels: equal keys, equal pictures.
struct TLStatusPicture {
    QIcon icon;
    quint64 key = 0;
};

// Marks an action of a menu given to setContextMenu as one of a single choice (the property is
// true): where the host draws the menu, it shows a radio item. A Qt menu shows it unchanged.
inline constexpr char TLSingleChoiceProperty[] = "tideSingleChoice";

// The one item in the tray (Linux) or the menu bar (macOS). Which host shows it is the host
// switch's decision (platform/TLStatusHost.h).
class TLStatusItem : public QObject {
    Q_OBJECT
public:
    enum class Button { Left, Right };
    using QObject::QObject;

    // The picture. `key` identifies its pixels: an icon whose key equals the current one is not
    // sent to the tray again.
    virtual void setIcon(const QIcon& icon, quint64 key) = 0;
    // The text beside the picture, where the tray can show one (the menu bar on macOS).
    virtual void setTitle(const QString& title) = 0;
    // Whether the bar gives the item room for the gauge and the text side by side in one wide
    // picture (the macOS menu bar); trays that give a square slot get the square icon instead.
    virtual bool hasRoomBesideImage() const { return false; }
    // Whether the host shows the title as text beside the picture, in the bar's own font (GNOME
    // Shell's AppIndicator extension): the square picture then leaves the figure out.
    virtual bool showsTitleAsText() const { return false; }
    virtual void setToolTip(const QString& toolTip) = 0;
    // Where the item is on screen, when the desktop says; an empty rectangle otherwise.
    virtual QRect geometry() const = 0;
    // What the popover hangs from: the item's rectangle, or, where the tray draws the icon itself
    // and tells no position, the point of the last click on it (1 × 1); empty when neither is
    // known.
    virtual QRect anchor() const { return geometry(); }
    // Where the host said the last click on the item was, where anchor() cannot take it for a
    // screen position (a Wayland bar knows positions in its own surface only, which on a bar
    // along the edge of the first screen are the screen's): a guess for when the pointer cannot
    // be found. None when the host told nothing.
    virtual std::optional<QPoint> clickHint() const { return std::nullopt; }
    // Whether a tray shows the item: a tray host is running. A host may appear at any time; the
    // item shows itself there at once and reports the change.
    virtual bool trayAvailable() const { return true; }
    // Whether the item has lost the place it was made for for good (the bus it was on is gone):
    // whoever shows it makes another.
    virtual bool isDetached() const { return false; }
    // Whether a tray that went may be back in a moment (a panel restarting): the program then
    // waits a little before it shows the panel as a window. Not when the trays went with the
    // session bus: a new bus comes with a new session, if at all.
    virtual bool trayMayReturnSoon() const { return true; }
    // While the popover is open the tool tip stays away: a tip over the panel hides its top.
    virtual void setToolTipSuppressed(bool suppressed) { (void)suppressed; }
    // Opens `menu` under the item and returns when it has closed.
    virtual void popUpMenu(QMenu* menu) = 0;
    // The item's own menu, which the desktop shows without telling the application: a
    // StatusNotifierItem host shows the menu the item exports over D-Bus on a right click, and
    // never reports that click. The caller keeps `menu` current (its aboutToShow signal comes
    // when a host asks for it) and owns it; a null menu exports none.
    virtual void setContextMenu(QMenu* menu) { (void)menu; }
    // The colour of the bar behind the item, where it can be seen (the tray's pixels around the
    // icon); invalid when it cannot.
    virtual QColor backgroundColor() const { return {}; }

signals:
    // A click on the item. `control` tells whether the Control key was held.
    void clicked(TLStatusItem::Button button, bool control);
    void trayAvailabilityChanged(bool available);
};

// The real one.
std::unique_ptr<TLStatusItem> TLMakeStatusItem();
