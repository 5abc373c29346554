#pragma once
// The layer-surface role of a window. Qt 6.4 has no per-window shell integration, but it leaves a
// window that carries Qt::BypassWindowManagerHint without a shell surface when
// QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT is set: such a window is a bare wl_surface that Qt still
// draws into and delivers input for. The role is given to that bare surface the moment Qt creates
// it, and the compositor's first configure is awaited before Qt attaches its first buffer. All
// other windows keep Qt's xdg-shell integration untouched. Wayland builds only.

#include "platform/wayland/TLLayerShellImpl.h"

#include <QSize>

#include <cstdint>
#include <optional>

class QScreen;
class QWidget;
class QWindow;

// How a window lies on its screen as a layer surface.
struct TLLayerConfig {
    uint32_t layer = ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY;
    uint32_t anchor = 0;
    int top = 0, right = 0, bottom = 0, left = 0;
    int exclusiveZone = 0;
    uint32_t keyboard = ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
    QScreen* screen = nullptr;
    QSize size; // the widget's; Qt passes it on to the window only as it shows it
};

// Anchors `config` to `edge` at `margin` from it (below the bar's reserved area there), and to the
// screen's left side at `left` or, without one, to its right side at `right`.
void TLAnchorLayer(TLLayerConfig& config, TLLayerPlacement::Edge edge, int margin,
                   std::optional<int> left, int right);

// Prepares `widget`'s window for the layer role with `config` before it is shown: from then on,
// each wl_surface Qt makes for it (anew at every show) becomes a layer surface of `shell`.
void TLArmLayerSurface(QWidget* widget, TLLayerShell::Impl* shell, const TLLayerConfig& config);

// Lets `window` be shown with Qt's own shell again (a menu reused outside the panel).
void TLDisarmLayerSurface(QWindow* window);
