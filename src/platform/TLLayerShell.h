#pragma once
// Windows placed by the program itself on Wayland compositors that offer the layer shell
// (wlroots compositors such as sway, and KDE's KWin). A Wayland client cannot place an ordinary
// window: the compositor does. A layer surface is anchored to an edge of an output at a margin
// the client chooses, which is what a panel under a tray icon needs.
//
// Only the windows handed to this class get the layer role; every other window of the program
// keeps Qt's own shell integration. Where the protocol is missing (GNOME, X11, offscreen),
// `TLLayerShell::instance()` is null and nothing here is used.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QScreen;
class QWidget;
class QWindow;

// Where a layer window goes on its screen.
struct TLLayerPlacement {
    enum class Edge { Top, Bottom };
    Edge edge = Edge::Top;
    // Distance of the window's left side from the screen's left side; none: at the right end.
    std::optional<int> left;
    // Distance from the edge (below the bar's reserved area on that edge).
    int gap = 4;
};

// Where the pointer was found: the screen under it and the position on that screen.
struct TLPointerSpot {
    QScreen* screen = nullptr;
    QPoint position; // in the screen's coordinates (0,0 = its top-left corner)
};

// The placement of a window of `size` that opens at the pointer, on a screen of `screenSize`:
// centred under (or above) the pointer, kept `margin` away from the sides. A pointer in the lower
// half of the screen means a bar at the bottom.
TLLayerPlacement TLLayerPlacementAtPointer(const QSize& size, const QSize& screenSize,
                                           const QPoint& pointer, int margin = 4);

// The placement of a window of `size` hung from `anchor` (a rectangle on the screen whose
// geometry is `screen`, such as TLBarAroundClick's band): on the edge of the screen's half the
// anchor is in, `gap` beyond the anchor, centred on it and kept `margin` away from the sides.
// `reserved` is how much of the screen's height the compositor already keeps clear for bars when
// it lays out a layer surface (KWin 6, whose bars are layer surfaces; none on KWin 5.27, whose
// bars are not): where it keeps any, it moves the window off that area itself, and the margin
// reaches only as far again as a floating bar stands off the edge (half the anchor's depth beyond
// the reserved area), then `gap`.
TLLayerPlacement TLLayerPlacementFromAnchor(const QSize& size, const QRect& screen,
                                            const QRect& anchor, int margin = 4, int gap = 4,
                                            int reserved = 0);

// What takes the presses outside a placed window without ever lying over it, whatever order the
// compositor stacks the surfaces of one layer in (sway 1.7 puts the newest lowest, sway 1.10 and
// KWin on top): the full-screen cover leaves out the window's column (as wide as the window,
// the screen's height), and strips fill that column before and after the window. The strips are
// anchored to the window's edge at the window's own distances, so the compositor moves them off a
// bar's reserved area exactly as it moves the window.
struct TLLayerStrip {
    TLLayerPlacement::Edge edge = TLLayerPlacement::Edge::Top;
    std::optional<int> left; // from the screen's left side; none: `right` from its right side
    int right = 0;
    int margin = 0; // from the edge (below the bar's reserved area on that edge)
    QSize size;
};
struct TLLayerCatchers {
    QRect column; // in the screen's coordinates: left out of the cover
    std::vector<TLLayerStrip> strips;
};
// For a window of `window` size placed at `placement` on a screen of `screenSize`.
TLLayerCatchers TLLayerCatchersAround(const QSize& screenSize, const QSize& window,
                                      const TLLayerPlacement& placement);

class TLLayerShell : public QObject {
    Q_OBJECT
public:
    // The shell of the running Wayland session, or null when there is none or it has no layer
    // shell. Decided once, at the first call (start-up).
    static TLLayerShell* instance();
    // Must run before the QApplication exists: lets the windows marked for the layer role go
    // without Qt's shell surface (Qt reads this when each window is shown).
    static void prepareEnvironment();

    ~TLLayerShell() override;

    // The longest wait for the covers to appear and the compositor to say where the pointer is.
    static constexpr int kMaxCoverWaitMs = 4000;
    // ... and the wait once they are drawn, the first time in a run.
    static constexpr int kFirstCoverWaitMs = 2500;

    // Covers every screen with a transparent layer (above windows, below the panel) and calls
    // `done` once with the spot where the pointer is, or with no screen when the compositor has
    // not said within `timeoutMs` of the covers' appearing (kMaxCoverWaitMs at most). The covers
    // stay until `endCapture()`: a press on them is a press outside the program's windows
    // (`outsidePressed`).
    void capture(std::function<void(TLPointerSpot)> done, int timeoutMs = 1000);
    void endCapture();

    // Shows `window` as a layer surface on `screen` at `placement`, taking the keyboard.
    void showPlaced(QWidget* window, QScreen* screen, const TLLayerPlacement& placement);
    // Shows `window` (a menu or tool tip of a placed window) at its own geometry.
    void showAtGeometry(QWidget* window);

    // The version of the compositor's layer shell.
    int version() const { return _version; }

    // The size in pixels of `screen`'s output (its current mode, as the output is turned), where
    // the compositor tells it.
    std::optional<QSize> pixelSize(const QScreen* screen) const;
    // How much of `screen`'s height the compositor keeps for the bars' reserved areas when it
    // lays out a layer surface (asked anew each time; 0 when it keeps none or does not say).
    int reservedHeight(QScreen* screen);

signals:
    // A mouse-down (left or right) on the covers: anywhere but the program's layer windows.
    void outsidePressed();

public:
    struct Impl; // the protocol objects (Wayland builds only)

private:
    explicit TLLayerShell(std::unique_ptr<Impl> impl, int version);
    void coverFound(TLPointerSpot spot);
    void ensureCovers();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<Impl> _impl;
    int _version = 0;
    std::vector<QPointer<QWidget>> _covers;
    // The strips around the placed window while the covers are up (see TLLayerCatchers).
    std::vector<QPointer<QWidget>> _strips;
    void setCatchersVisible(bool visible);
    void catchAround(QScreen* screen, const QSize& size, const TLLayerPlacement& placement);
    void applyHole();
    // The placed window's column on its screen, left out of that screen's cover.
    QPointer<QScreen> _holeScreen;
    QRect _hole;
    std::function<void(TLPointerSpot)> _pendingCapture;
    int _captureGeneration = 0;
    bool _capturing = false;
    bool _coversShownBefore = false;
    bool _framesSettingPending = false; // set for Qt to read at the first window shown
    // The program's other windows (alerts) shown while the covers are up: the covers step aside.
    std::vector<QPointer<QWidget>> _others;
};
