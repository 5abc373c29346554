#pragma once
// The windows that open from the status item: the popover, the outside-click monitor that closes
// it, and menus popped up at a point. Interfaces, so that the application's state machine runs
// headless in tests.

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QWidget;

// The window that holds the panel under the status item.
class TLPopover : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isShown() const = 0;
    // Shows `content` attached under `anchor` (screen coordinates; empty: at the pointer, or at
    // `hint` where the pointer cannot be found).
    virtual void show(QWidget* content, const QRect& anchor,
                      std::optional<QPoint> hint = std::nullopt) = 0;
    virtual void close() = 0;
    // The window, while it exists (for positioning menus and for tests).
    virtual QWidget* window() const = 0;
    // Shows `content` in an ordinary window titled `title`, in the taskbar, for a desktop without
    // a tray; isShown() then tells whether that window is shown. close() hides it again; show()
    // returns the content to the popover.
    virtual void showAsWindow(QWidget* content, const QString& title) {
        (void)content;
        (void)title;
    }
    virtual bool isWindow() const { return false; }

signals:
    // The user closed the ordinary window (its title bar's close button).
    void windowClosedByUser();
    // The user asked the window to close (the Escape key).
    void closeRequested();
};

// Reports mouse-down events (left or right) that go to another application, as a global monitor
// does. Clicks inside this application's own windows are not reported.
class TLOutsideClickMonitor {
public:
    virtual ~TLOutsideClickMonitor() = default;
    // Installs a handler and returns its token (never 0).
    virtual int install(std::function<void()> handler) = 0;
    virtual void remove(int token) = 0;
    // Whether a press on the status item reaches this monitor instead of the tray (a cover over
    // the whole screen takes it): such a press is never followed by a click from the tray.
    virtual bool coversStatusItem() const { return false; }
};

// Pops a menu up at a point of a view (the settings menu under the gear).
class TLMenuPresenter {
public:
    virtual ~TLMenuPresenter() = default;
    // `at` is in `view`'s coordinates; a null view means screen coordinates.
    virtual void popUp(QMenu* menu, const QPoint& at, QWidget* view) = 0;
};

// The real ones.
std::unique_ptr<TLPopover> TLMakePopover();
std::unique_ptr<TLOutsideClickMonitor> TLMakeOutsideClickMonitor();
std::unique_ptr<TLMenuPresenter> TLMakeMenuPresenter();
