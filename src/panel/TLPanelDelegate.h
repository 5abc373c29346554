#pragma once
#include <cstdint>

class QWidget;

// How the panel reports the user's intentions to the application.
class TLPanelDelegate {
public:
    virtual ~TLPanelDelegate() = default;
    // The user picked a tab (0 memory, 1 energy); the panel has already switched.
    virtual void panelDidSelectTab(int64_t tab) = 0;
    // The gear button was clicked; `gear` is that button, to anchor the settings menu to.
    virtual void panelDidClickGear(QWidget* gear) = 0;
    // "打开活动监视器" was clicked; sent before the system monitor is opened.
    virtual void panelWantsClose() = 0;
};
