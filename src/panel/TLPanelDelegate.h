#pragma once
#include <cstdint>

class QWidget;

// The panel's two tabs. The stored choice is the tab's number; a number the program never writes
// shows the energy tab, as any tab but the first.
enum class TLPanelTab : int64_t { Memory = 0, Energy = 1 };

// How the panel reports the user's intentions to the application.
class TLPanelDelegate {
public:
    virtual ~TLPanelDelegate() = default;
    // The user picked a tab; the panel has already switched.
    virtual void panelDidSelectTab(TLPanelTab tab) = 0;
    // The gear button was clicked; `gear` is that button, to anchor the settings menu to.
    virtual void panelDidClickGear(QWidget* gear) = 0;
    // "打开活动监视器" was clicked; sent before the system monitor is opened.
    virtual void panelWantsClose() = 0;
};
