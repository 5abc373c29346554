// The layer shell where there is none to talk to: macOS, and Linux builds without the Wayland
// development files. `instance()` is null, so nothing else here is ever reached; a window handed
// to `showPlaced` is simply shown.

#include "platform/TLLayerShell.h"

#include <QWidget>

struct TLLayerShell::Impl {};

void TLLayerShell::prepareEnvironment() {}
TLLayerShell* TLLayerShell::instance() {
    return nullptr;
}
TLLayerShell::TLLayerShell(std::unique_ptr<Impl> impl, int version)
    : _impl(std::move(impl)), _version(version) {}
TLLayerShell::~TLLayerShell() = default;
void TLLayerShell::capture(std::function<void(TLPointerSpot)> done, int) {
    done({});
}
void TLLayerShell::coverFound(TLPointerSpot) {}
void TLLayerShell::ensureCovers() {}
void TLLayerShell::endCapture() {}
void TLLayerShell::showPlaced(QWidget* window, QScreen*, const TLLayerPlacement&) {
    window->show();
}
void TLLayerShell::showAtGeometry(QWidget*) {}
std::optional<QSize> TLLayerShell::pixelSize(const QScreen*) const {
    return std::nullopt;
}
int TLLayerShell::reservedHeight(QScreen*) {
    return 0;
}
void TLLayerShell::setCatchersVisible(bool) {}
void TLLayerShell::applyHole() {}
void TLLayerShell::catchAround(QScreen*, const QSize&, const TLLayerPlacement&) {}
bool TLLayerShell::eventFilter(QObject* watched, QEvent* event) {
    return QObject::eventFilter(watched, event);
}
