#pragma once
// The no-tray window: the panel as an ordinary window, for a desktop where the host switch finds
// no tray (platform/TLStatusHost.h). Framed, titled, in the taskbar. Closing it is reported, not
// merely hidden: without a tray nothing else would lead back to it.

#include <QWidget>

#include <functional>

class TLNoTrayWindow final : public QWidget {
public:
    explicit TLNoTrayWindow(std::function<void()> closedByUser);

    // Shows `content` (taken from wherever it was) in the window titled `title`, and brings the
    // window forward.
    void showPanel(QWidget* content, const QString& title);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setContent(QWidget* content);

    std::function<void()> _closedByUser;
};
