// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
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
    void ChooseFromList(const NV_HWND&, const std::string& title, const std::vector<CChoice>& choices,
                        std::function<void(int)> done) override {
        std::vector<std::string> texts;
        for (const CChoice& c : choices) texts.push_back(c.text);
        lists.push_back({title, {}, texts});
        const int index = chooser ? chooser(title, texts) : -1;
        if (done) done(index);
    }
    void PickFileToOpen(const NV_HWND&, const std::string& title, const CFileFilter&,
                        std::function<void(const std::string&)> done) override {
        pickers.push_back(title);
        if (done) done(fileToOpen);
    }
    void OfferFileToSave(const NV_HWND&, const std::string& path, const std::string&, const CFileFilter&) override {
        offered.push_back(path);
    }
    void ShowPage(const NV_HWND&, const CPageRequest& request, std::function<void(bool)> done) override {
        pages.push_back(request.page);
        if (done) done(pageAnswer);
    }
    void ShowHelp(const std::string& tag) override { help.push_back(tag); }
    void LockScreen() override { ++locks; }
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
        lists.clear();
        pickers.clear();
        offered.clear();
        pages.clear();
        help.clear();
        locks = 0;
    }

    int answer = 0;
    std::vector<Message> messages;
    std::vector<std::string> status;
    std::vector<Message> notifications;  // title = notification id, text = its text, buttons[0] = its title
    std::vector<std::string> cancelled;
    std::vector<std::shared_ptr<CProgressDialogData>> progress;
    std::vector<bool> doneButton;
    std::vector<bool> inactivity;

    // Lists: which entry to pick (-1: dismissed); title = the list's title, buttons = its entries.
    std::function<int(const std::string& title, const std::vector<std::string>& entries)> chooser;
    std::vector<Message> lists;
    std::string fileToOpen;  // what the file picker answers ("" = cancelled)
    std::vector<std::string> pickers;
    std::vector<std::string> offered;  // files offered to be saved
    bool pageAnswer = true;
    std::vector<std::string> pages;
    std::vector<std::string> help;
    int locks = 0;
};
