#pragma once
#include "platform/TLStatusItem.h"
#include "sampling/TLSystemStats.h"

#include <QObject>
#include <QRect>

#include <memory>
#include <optional>

struct TLAppEnvironment;
class TLPanelController;
class TLSamplingLoop;

// How the panel opens and closes: a click on the status item toggles it as a popover under the
// item, a click in another application closes it, and a tray click that belongs to the same
// gesture as that outside click leaves it closed. Without a tray the panel shows as an ordinary
// window until a tray host appears. Another start of the program (`tide --toggle`, `tide --show`)
// may open and close the panel too, without a click. Main thread only.
class TLPopoverFlow final : public QObject {
    Q_OBJECT
public:
    TLPopoverFlow(const TLAppEnvironment& env, TLSamplingLoop& loop);
    // The panel, once the application has made it at launch.
    void setPanel(TLPanelController* panel) { _panel = panel; }
    ~TLPopoverFlow() override;

    // The mouse event being handled, if any.
    struct Click {
        TLStatusItem::Button button = TLStatusItem::Button::Left;
        bool control = false;
    };
    void statusClicked(std::optional<Click> click = std::nullopt);
    void closePopover();
    // A request without a click (a key bound to `tide --toggle` or `tide --show`): with `toggle`
    // the panel opens when it is closed and closes when it is open; otherwise it only opens. It
    // opens where a click on the item would open it or, where the item's place is unknown, where
    // it last opened. The panel shown as a window, for want of a tray, comes forward instead.
    void panelRequested(bool toggle);
    // Stops listening for clicks in other applications.
    void removeOutsideClickMonitor();

    // Follows the tray host: without one for a while, the panel shows as a window.
    void watchTray();
    void trayAvailabilityChanged(bool available);
    void showWithoutTray();
    bool showsWithoutTray() const { return _standalone; }

    bool monitorInstalled() const { return _monitorToken != 0; }

    // Draws the panel once, unseen, with `sample`, where it was never shown: the fonts it uses
    // are loaded, its text laid out and its glyphs drawn before the first click rather than
    // after it.
    void prepareFirstOpening(const TLSystemStats& sample);

signals:
    // A secondary click (or a control click) on the status item asks for the settings menu.
    void settingsRequested();

private:
    void applyDesktopLook();
    void openPopover(const QRect& anchor);
    void outsideClickClose();
    void waitForTray();

    const TLAppEnvironment& _env;
    TLSamplingLoop& _loop;
    TLPanelController* _panel = nullptr; // made at launch
    int _monitorToken = 0;
    double _lastOutsideClose = -1e9;
    int _outsideGeneration = 0; // cancels a pending outside-click close
    QRect _lastAnchor;          // the last opening's, where it was known
    bool _standalone = false;   // the panel is shown as a window, for want of a tray
    bool _prepared = false;     // drawn once, seen or not
};
