// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "core/uiservices.h"

// Records what the engine would have shown the user, so tests can assert on exact
// titles and texts. Message boxes answer at once with `answer` (button index).
class RecordingUi : public IUiServices {
public:
    struct Message {
        std::string title;
        std::string text;
        std::vector<std::string> buttons;
    };

    RecordingUi() { SetUiServices(this); }
    ~RecordingUi() override { SetUiServices(nullptr); }

    void ShowMessage(const NV_HWND&, const std::string& title, const std::string& text,
                     const std::vector<std::string>& buttons, std::function<void(int)> done) override {
        messages.push_back({title, text, buttons});
        if (done) done(answer);
    }
    void SetStatusMessage(const std::string& text) override { status.push_back(text); }
    void ShowSystemNotification(const std::string& id, const std::string& title, const std::string& text) override {
        notifications.push_back({id, text, {title}});
    }
    void CancelSystemNotification(const std::string& id) override { cancelled.push_back(id); }
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData> data) override {
        progress.push_back(std::move(data));
    }
    void DoneButtonChanged(bool visible) override { doneButton.push_back(visible); }
    void InactivityTimeoutEnabled(bool enabled) override { inactivity.push_back(enabled); }

    void Clear() {
        messages.clear();
        status.clear();
        notifications.clear();
        cancelled.clear();
        progress.clear();
        doneButton.clear();
        inactivity.clear();
    }

    int answer = 0;
    std::vector<Message> messages;
    std::vector<std::string> status;
    std::vector<Message> notifications;  // title = notification id, text = its text, buttons[0] = its title
    std::vector<std::string> cancelled;
    std::vector<std::shared_ptr<CProgressDialogData>> progress;
    std::vector<bool> doneButton;
    std::vector<bool> inactivity;
};
