#pragma once
// Under XWayland the X server hears of no press outside its own windows: none on the shell's bar
// or on the desktop. This transparent cover over the panel's screen takes them instead: shown as
// a tool tip's window is, above the shell's bar, with a hole where the panel is. It steps aside
// while another window of the program is up (an alert opened from the panel), which it would
// hide.

#include <QObject>
#include <QPointer>

class QWidget;

class TLXWaylandCover final : public QObject {
    Q_OBJECT
public:
    // Whether this session needs the cover: X11 through XWayland, where the pointer's place
    // cannot be known.
    static bool needed();

    TLXWaylandCover();
    ~TLXWaylandCover() override;

    // Covers the screen of `panel` (a shown window), all but the panel.
    void coverAround(QWidget* panel);
    // Takes the cover away until the next coverAround.
    void remove();

signals:
    // A press outside the panel.
    void pressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool otherWindowShown() const;

    QWidget* _cover = nullptr;
    QPointer<QWidget> _panel;
    bool _awaitingPanel = false; // the cover shows once the panel's window is exposed
};
