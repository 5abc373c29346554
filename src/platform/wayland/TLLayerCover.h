#pragma once
// Wayland builds only (see TLLayerShell).

#include "platform/TLLayerShell.h"

#include <QPointer>
#include <QScreen>
#include <QSize>
#include <QWidget>

#include <functional>

// A transparent window over a whole screen: it learns where the pointer is as soon as it
// appears, and takes the presses that land outside the program's layer windows.
// A strip (see TLLayerCatchers) is a cover of the size given, placed by its layer config.
class TLLayerCover final : public QWidget {
public:
    // `pressed` runs on every left or right mouse-down on the cover.
    TLLayerCover(QScreen* screen, std::function<void()> pressed, QSize size = {});

    QScreen* screen() const { return _screen; }
    // The next position the pointer is seen at goes to `found`.
    void expect(std::function<void(TLPointerSpot)> found) { _found = std::move(found); }
    // The next time the cover has drawn itself (it is about to appear), `drawn` runs once.
    void whenDrawn(std::function<void()> drawn) { _drawn = std::move(drawn); }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    void report(const QPoint& at);

    QPointer<QScreen> _screen;
    std::function<void(TLPointerSpot)> _found;
    std::function<void()> _drawn;
    std::function<void()> _pressed;
};
