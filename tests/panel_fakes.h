#pragma once
// Fakes of the desktop services and of the panel's delegate, for the panel tests.
#include "panel/TLPanelController.h"
#include "panel/TLPanelDelegate.h"
#include "platform/TLServices.h"

#include <QWidget>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Answers alerts from a queue (the first button when it runs dry) and records what was shown.
struct FakeAlerts final : TLAlertPresenter {
    std::vector<TLAlert> shown;
    std::deque<int> answers;
    std::function<void()> whileShown; // runs while an alert is "on screen"
    int run(const TLAlert& alert) override {
        shown.push_back(alert);
        if (whileShown) whileShown();
        if (answers.empty()) return TLAlertFirstButtonReturn;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

struct FakeClipboard final : TLClipboard {
    std::vector<QString> texts;
    void setText(const QString& text) override { texts.push_back(text); }
};

// Processes by pid with their start times; records every signal asked for.
struct FakeProcesses final : TLProcessControl {
    std::map<int32_t, uint64_t> startTimes;
    std::vector<std::pair<int32_t, int>> signalsSent;
    bool deliver = true;
    int startTimeReads = 0;
    bool startTime(int32_t pid, uint64_t& out) override {
        ++startTimeReads;
        const auto it = startTimes.find(pid);
        if (it == startTimes.end()) return false;
        out = it->second;
        return true;
    }
    bool sendSignal(int32_t pid, TLEndSignal signal) override {
        signalsSent.emplace_back(pid, TLSignalNumber(signal));
        return deliver;
    }
};

struct FakeLauncher final : TLAppLauncher {
    std::vector<std::string>* log = nullptr;
    bool found = true; // whether a system monitor is installed
    bool openSystemMonitor() override {
        if (log) log->push_back("open system monitor");
        return found;
    }
};

struct FakeDelegate final : TLPanelDelegate {
    std::vector<std::string>* log = nullptr;
    std::vector<int64_t> tabs;
    std::vector<QWidget*> gears;
    std::function<void()> onSelectTab;
    void panelDidSelectTab(TLPanelTab tab) override {
        tabs.push_back(static_cast<int64_t>(tab));
        if (onSelectTab) onSelectTab();
    }
    void panelDidClickGear(QWidget* gear) override { gears.push_back(gear); }
    void panelWantsClose() override {
        if (log) log->push_back("close");
    }
};

// A controller wired to fakes.
struct FakePanel {
    std::vector<std::string> log;
    FakeAlerts alerts;
    FakeClipboard clipboard;
    FakeProcesses processes;
    FakeLauncher launcher;
    FakeDelegate delegate;
    TLPanelController panel{TLPanelServices{&alerts, &clipboard, &processes, &launcher}};

    FakePanel() {
        launcher.log = &log;
        delegate.log = &log;
        panel.setDelegate(&delegate);
    }
};
