#include "app/TLPopoverFlow.h"

#include "app/TLAppEnvironment.h"
#include "app/TLSamplingLoop.h"
#include "format/TLColor.h"
#include "panel/TLPanelController.h"
#include "widgets/TLAppearance.h"

#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>

namespace {

// A tray click that comes this soon after an outside click closed the popover is the same
// gesture: the click on the tray icon that the tray host received first.
constexpr double kSameGestureSeconds = 0.35;
// How long an outside press waits for the tray to report a click on its icon, where the tray
// does not tell the icon's position.
constexpr double kTrayClickWait = 0.25;
// How long the program waits for a tray host, at start or after the host went away, before it
// shows the panel as a window: a desktop starts its panel within a second or two of logging in.
constexpr double kNoTrayWait = 4.0;

} // namespace

TLPopoverFlow::TLPopoverFlow(const TLAppEnvironment& env, TLSamplingLoop& loop)
    : _env(env), _loop(loop) {
    if (_env.statusItem) {
        connect(_env.statusItem, &TLStatusItem::clicked, this,
                [this](TLStatusItem::Button button, bool control) {
                    statusClicked(Click{button, control});
                });
    }
    if (_env.popover)
        connect(_env.popover, &TLPopover::closeRequested, this, [this] { closePopover(); });
}

TLPopoverFlow::~TLPopoverFlow() {
    removeOutsideClickMonitor();
}

void TLPopoverFlow::removeOutsideClickMonitor() {
    if (_monitorToken != 0 && _env.monitor) _env.monitor->remove(_monitorToken);
    _monitorToken = 0;
}

// ---------------------------------------------------------------- popover

void TLPopoverFlow::statusClicked(std::optional<Click> click) {
    // A click on the icon: a tray is there after all, and the panel belongs under it again.
    if (_standalone && click) {
        _standalone = false;
        _env.popover->close();
    }
    if (_standalone) return;
    if (click) ++_outsideGeneration; // a pending outside-click close was this very click
    if (click && (click->button == TLStatusItem::Button::Right || click->control)) {
        emit settingsRequested();
        return;
    }
    if (_env.popover->isShown()) {
        closePopover();
        return;
    }
    // The press on the tray icon that closed the popover as an outside click: it stays closed.
    if (click && _env.now && _env.now() - _lastOutsideClose < kSameGestureSeconds) return;
    openPopover(_env.statusItem->anchor());
}

void TLPopoverFlow::panelRequested(bool toggle) {
    if (_standalone) {
        _env.popover->showAsWindow(_panel->view(), TLDisplayName(_env.info));
        return;
    }
    if (_env.popover->isShown()) {
        if (toggle) closePopover();
        return;
    }
    // No click tells where the item is: what the item knows, else where the panel last hung.
    const QRect anchor = _env.statusItem->anchor();
    openPopover(anchor.isEmpty() ? _lastAnchor : anchor);
}

void TLPopoverFlow::prepareFirstOpening(const TLSystemStats& sample) {
    if (!_panel || _prepared || _env.popover->isShown()) return;
    _prepared = true;
    _panel->renderSystem(sample, _loop.history());
    QWidget* view = _panel->view();
    view->adjustSize(); // as the popover's layout sizes it
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    QImage unseen(view->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    if (unseen.isNull()) return;
    unseen.setDevicePixelRatio(ratio);
    unseen.fill(Qt::transparent);
    view->render(&unseen);
}

void TLPopoverFlow::openPopover(const QRect& anchor) {
    _prepared = true;
    if (!anchor.isEmpty()) _lastAnchor = anchor;
    const TLSystemStats sample = _env.sampleSystem();
    _panel->renderSystem(sample, _loop.history());
    applyDesktopLook();
    _env.statusItem->setToolTipSuppressed(true);
    _env.popover->show(_panel->view(), anchor, _env.statusItem->clickHint());
    _loop.refreshProcs();
    QPointer<TLPopoverFlow> self(this);
    _env.scheduler->after(0.9, [self] {
        if (self && self->_env.popover->isShown()) self->_loop.refreshProcs();
    });
    if (_monitorToken == 0) {
        _monitorToken = _env.monitor->install([self] {
            if (!self) return;
            const QRect icon = self->_env.statusItem->geometry();
            if ((icon.isValid() && !icon.isEmpty()) || self->_env.monitor->coversStatusItem()) {
                self->outsideClickClose();
                return;
            }
            // A tray that draws the icon itself gives no geometry, and a press on the icon looks
            // like any press elsewhere: wait for the click the tray reports for it. A click on the
            // item cancels this close (it toggles the panel, or opens the menu over it).
            const int generation = ++self->_outsideGeneration;
            self->_env.scheduler->after(kTrayClickWait, [self, generation] {
                if (self && generation == self->_outsideGeneration) self->outsideClickClose();
            });
        });
    }
}

// The desktop may have switched between light and dark, or to or from high contrast, since the
// last opening.
void TLPopoverFlow::applyDesktopLook() {
    QWidget* view = _panel->view();
    bool contrastChanged = false;
    if (_env.highContrast) {
        const bool high = _env.highContrast();
        contrastChanged = high != TLHighContrast();
        if (contrastChanged) TLSetHighContrast(high);
    }
    const TLAppearance appearance =
        _env.systemAppearance ? _env.systemAppearance() : TLEffectiveAppearance(view);
    if (contrastChanged || appearance != TLEffectiveAppearance(view))
        TLSetAppearance(view, appearance);
}

void TLPopoverFlow::closePopover() {
    // The panel shown as a window while there is no tray is not a popover: it stays.
    if (_env.popover->isShown() && !_standalone) {
        _env.popover->close();
        _env.statusItem->setToolTipSuppressed(false);
        // No process sample is taken until the panel opens again: what the sampling keeps open
        // goes, after any sample under way.
        if (_env.releaseProcesses) _env.procQueue->async(_env.releaseProcesses, {});
    }
    if (_monitorToken != 0) {
        _env.monitor->remove(_monitorToken);
        _monitorToken = 0;
    }
}

void TLPopoverFlow::outsideClickClose() {
    if (_env.now) _lastOutsideClose = _env.now();
    closePopover();
}

// ---------------------------------------------------------------- without a tray

void TLPopoverFlow::watchTray() {
    connect(_env.statusItem, &TLStatusItem::trayAvailabilityChanged, this,
            [this](bool available) { trayAvailabilityChanged(available); });
    if (!_env.statusItem->trayAvailable()) waitForTray();
}

void TLPopoverFlow::waitForTray() {
    QPointer<TLPopoverFlow> self(this);
    _env.scheduler->after(kNoTrayWait, [self] {
        if (self && !self->_env.statusItem->trayAvailable()) self->showWithoutTray();
    });
}

void TLPopoverFlow::trayAvailabilityChanged(bool available) {
    if (!available) {
        if (_env.statusItem->trayMayReturnSoon())
            waitForTray();
        else
            showWithoutTray();
        return;
    }
    // The icon is back in a tray: the panel returns to it.
    if (_standalone) {
        _standalone = false;
        _env.popover->close();
    }
}

void TLPopoverFlow::showWithoutTray() {
    if (_standalone) return;
    closePopover();
    _standalone = true;
    _panel->renderSystem(_env.sampleSystem(), _loop.history());
    applyDesktopLook();
    _env.popover->showAsWindow(_panel->view(), TLDisplayName(_env.info));
    _loop.refreshProcs();
    QPointer<TLPopoverFlow> self(this);
    _env.scheduler->after(0.9, [self] {
        if (self && self->_env.popover->isShown()) self->_loop.refreshProcs();
    });
}
