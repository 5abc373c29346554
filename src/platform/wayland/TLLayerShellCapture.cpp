// The capture: a cover over every screen (above windows and the bars) and, while a window is
// placed, strips beside it, which find the pointer and catch the presses outside the program's
// layer windows. See TLLayerCatchers for why the covers never lie under the placed window.

#include "platform/TLLayerShell.h"
#include "platform/wayland/TLLayerCover.h"
#include "platform/wayland/TLLayerSurface.h"

#include <QGuiApplication>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

void deleteAll(std::vector<QPointer<QWidget>>& windows) {
    for (auto& w : windows)
        delete w.data();
    windows.clear();
}

} // namespace

// One cover per screen, kept between openings: a new one costs a full-screen buffer, and the first
// one Qt's first-window set-up (shell, cursor theme), which is why they are made at start-up.
void TLLayerShell::ensureCovers() {
    const QList<QScreen*> screens = QGuiApplication::screens();
    // A screen that went away or changed size gets a new cover.
    std::erase_if(_covers, [&screens](const QPointer<QWidget>& w) {
        auto* cover = static_cast<TLLayerCover*>(w.data());
        if (cover && screens.contains(cover->screen()) &&
            cover->size() == cover->screen()->geometry().size())
            return false;
        delete cover;
        return true;
    });
    for (QScreen* screen : screens) {
        const bool has = std::any_of(_covers.begin(), _covers.end(), [screen](const auto& w) {
            return static_cast<TLLayerCover*>(w.data())->screen() == screen;
        });
        if (has) continue;
        auto* cover = new TLLayerCover(screen, [this] { emit outsidePressed(); });
        TLLayerConfig config;
        config.layer = ZWLR_LAYER_SHELL_V1_LAYER_TOP;
        config.anchor = ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
        config.exclusiveZone = -1; // over the bars too: a press on the bar is outside
        config.screen = screen;
        config.size = screen->geometry().size();
        TLArmLayerSurface(cover, _impl.get(), config);
        _covers.emplace_back(cover);
    }
}

void TLLayerShell::capture(std::function<void(TLPointerSpot)> done, int timeoutMs) {
    endCapture();
    _impl->dispatch();
    _pendingCapture = std::move(done);
    _capturing = true;
    const int generation = ++_captureGeneration;
    ensureCovers();
    auto giveUp = [this, generation] {
        if (generation == _captureGeneration) coverFound({});
    };
    // The wait for the pointer counts from when the covers are drawn, not from the click, and
    // the first time is longer: the first covers of a run cost the compositor most (measured on
    // sway drawing in software at 150 %: 0.5 s from the click to their drawing, 0.7–1.1 s more
    // to the pointer's arrival; 20–40 ms in all for later ones). Not beyond kMaxCoverWaitMs.
    auto waitFromNow = std::make_shared<bool>(timeoutMs > 0);
    if (!std::exchange(_coversShownBefore, true) && timeoutMs > 0)
        timeoutMs = std::max(timeoutMs, kFirstCoverWaitMs);
    for (auto& w : _covers) {
        auto* cover = static_cast<TLLayerCover*>(w.data());
        const QScreen* screen = cover->screen();
        cover->setGeometry(screen->geometry());
        cover->expect([this](TLPointerSpot spot) { coverFound(spot); });
        cover->whenDrawn([this, waitFromNow, timeoutMs, giveUp] {
            if (!std::exchange(*waitFromNow, false)) return;
            QTimer::singleShot(timeoutMs, this, giveUp);
        });
        if (_others.empty()) cover->show();
    }
    const bool coversShown = _others.empty() && !_covers.empty();
    QTimer::singleShot(coversShown && timeoutMs > 0 ? std::max(timeoutMs, kMaxCoverWaitMs)
                                                    : timeoutMs,
                       this, giveUp);
}

void TLLayerShell::coverFound(TLPointerSpot spot) {
    if (!_pendingCapture) return;
    auto done = std::move(_pendingCapture);
    _pendingCapture = nullptr;
    done(spot);
}

void TLLayerShell::endCapture() {
    ++_captureGeneration;
    _pendingCapture = nullptr;
    _capturing = false;
    for (auto& cover : _covers)
        if (cover) {
            static_cast<TLLayerCover*>(cover.data())->expect(nullptr);
            cover->hide();
            cover->clearMask();
        }
    _holeScreen = nullptr;
    _hole = {};
    deleteAll(_strips);
}

void TLLayerShell::setCatchersVisible(bool visible) {
    for (auto& cover : _covers)
        if (cover) cover->setVisible(visible);
    for (auto& strip : _strips)
        if (strip) strip->setVisible(visible);
    if (visible) applyHole();
}

// The input region goes with the wl_surface, which Qt makes anew at every show: set again (after
// a clear, since Qt skips a mask equal to the one it has).
void TLLayerShell::applyHole() {
    for (auto& w : _covers) {
        auto* cover = static_cast<TLLayerCover*>(w.data());
        if (!cover) continue;
        cover->clearMask();
        if (_holeScreen && cover->screen() == _holeScreen && !_hole.isEmpty())
            cover->setMask(QRegion(QRect(QPoint(0, 0), cover->size())) - QRegion(_hole));
    }
}

void TLLayerShell::catchAround(QScreen* screen, const QSize& size, const TLLayerPlacement& p) {
    deleteAll(_strips);
    const TLLayerCatchers catchers = TLLayerCatchersAround(screen->geometry().size(), size, p);
    _holeScreen = screen;
    _hole = catchers.column;
    applyHole();
    for (const TLLayerStrip& s : catchers.strips) {
        auto* strip = new TLLayerCover(
            screen, [this] { emit outsidePressed(); }, s.size);
        TLLayerConfig config;
        config.layer = ZWLR_LAYER_SHELL_V1_LAYER_TOP;
        config.screen = screen;
        config.exclusiveZone = 0; // moved off the bars' reserved areas as the panel is
        config.size = s.size;
        TLAnchorLayer(config, s.edge, s.margin, s.left, s.right);
        TLArmLayerSurface(strip, _impl.get(), config);
        _strips.emplace_back(strip);
        if (_others.empty()) strip->show();
    }
}
