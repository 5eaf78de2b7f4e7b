// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/uiservices.h"

#include <QDebug>

#include "core/threadcheck.h"

namespace {

IUiServices* g_services = nullptr;
std::function<void()> g_doneCallback;
int g_busyCount = 0;

void LogMessage(const std::string& title, const std::string& text) {
    qInfo().noquote() << QString::fromStdString(title) + QStringLiteral(": ") + QString::fromStdString(text);
}

}  // namespace

void SetUiServices(IUiServices* services) {
    NV_ASSERT_GUI_THREAD();
    g_services = services;
}
IUiServices* GetUiServices() {
    return g_services;
}

void MessageBoxOK(const NV_HWND& parent, const std::string& title, const std::string& text,
                  std::function<void()> done) {
    NV_ASSERT_GUI_THREAD();
    if (!g_services) {
        LogMessage(title, text);
        if (done) done();
        return;
    }
    g_services->ShowMessage(parent, title, text, {"  OK  "}, [done = std::move(done)](int) {
        if (done) done();
    });
}

void MessageBoxYesNo(const NV_HWND& parent, const std::string& title, const std::string& text,
                     std::function<void()> onYes, std::function<void()> onNo) {
    NV_ASSERT_GUI_THREAD();
    if (!g_services) {
        // Nobody can answer: take the cautious choice.
        LogMessage(title, text);
        if (onNo) onNo();
        return;
    }
    g_services->ShowMessage(parent, title, text, {"  Yes  ", " No "},
                            [onYes = std::move(onYes), onNo = std::move(onNo)](int button) {
                                if (button == 0) {
                                    if (onYes) onYes();
                                } else if (onNo) {
                                    onNo();
                                }
                            });
}

void MessageBox3(const NV_HWND& parent, const std::string& title, const std::string& text, const std::string& button1,
                 const std::string& button2, const std::string& button3, std::function<void(int)> done) {
    NV_ASSERT_GUI_THREAD();
    if (!g_services) {
        LogMessage(title, text);
        if (done) done(2);
        return;
    }
    g_services->ShowMessage(parent, title, text, {button1, button2, button3}, std::move(done));
}

void MessageBoxHint(const NV_HWND& parent, const std::string& text) {
    MessageBoxOK(parent, "Hint", text);
}

void SetStatusMessage(const std::string& text) {
    NV_ASSERT_GUI_THREAD();
    if (g_services)
        g_services->SetStatusMessage(text);
    else if (!text.empty())
        qInfo().noquote() << QString::fromStdString(text);
}

void ClearStatusMessage() {
    SetStatusMessage({});
}

void ShowSystemNotification(const std::string& id, const std::string& title, const std::string& text) {
    NV_ASSERT_GUI_THREAD();
    if (g_services)
        g_services->ShowSystemNotification(id, title, text);
    else
        LogMessage(title, text);
}

void CancelSystemNotification(const std::string& id) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) g_services->CancelSystemNotification(id);
}

void ShowProgressDialog(const NV_HWND& parent, std::shared_ptr<CProgressDialogData> data) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) g_services->ShowProgress(parent, std::move(data));
}

void ChooseFromList(const NV_HWND& parent, const std::string& title, const std::vector<CChoice>& choices,
                    std::function<void(int)> done) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) {
        g_services->ChooseFromList(parent, title, choices, std::move(done));
    } else if (done) {
        done(-1);
    }
}

void ChooseFromList(const NV_HWND& parent, const std::string& title, const std::vector<std::string>& items,
                    std::function<void(int)> done) {
    std::vector<CChoice> choices;
    choices.reserve(items.size());
    for (const std::string& text : items) choices.push_back({text, {}, false});
    ChooseFromList(parent, title, choices, std::move(done));
}

void PickFileToOpen(const NV_HWND& parent, const std::string& title, const CFileFilter& filter,
                    std::function<void(const std::string&)> done) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) {
        g_services->PickFileToOpen(parent, title, filter, std::move(done));
    } else if (done) {
        done({});
    }
}

void OfferFileToSave(const NV_HWND& parent, const std::string& path, const std::string& suggestedName,
                     const CFileFilter& filter) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) g_services->OfferFileToSave(parent, path, suggestedName, filter);
}

void ShowPage(const NV_HWND& parent, const CPageRequest& request, std::function<void(bool)> done) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) {
        g_services->ShowPage(parent, request, std::move(done));
    } else if (done) {
        done(true);
    }
}

void ShowHelp(const std::string& tag) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) g_services->ShowHelp(tag);
}

void LockScreen() {
    NV_ASSERT_GUI_THREAD();
    if (g_services) g_services->LockScreen();
}

void SetFullScreen(bool full) {
    NV_ASSERT_GUI_THREAD();
    if (g_services) g_services->SetFullScreen(full);
}

void SetDoneButtonCallback(std::function<void()> callback) {
    NV_ASSERT_GUI_THREAD();
    if (g_doneCallback) {
        auto previous = std::move(g_doneCallback);
        g_doneCallback = nullptr;
        previous();
    }
    g_doneCallback = std::move(callback);
    if (g_services) g_services->DoneButtonChanged(bool(g_doneCallback));
}

void SetDoneButtonCallback(void (*callback)(void*), void* context) {
    NV_ASSERT_GUI_THREAD();
    if (!callback) {
        SetDoneButtonCallback(std::function<void()>());
        return;
    }
    SetDoneButtonCallback([callback, context] { callback(context); });
}

void ClearDoneButtonCallback() {
    NV_ASSERT_GUI_THREAD();
    g_doneCallback = nullptr;
    if (g_services) g_services->DoneButtonChanged(false);
}

void InvokeDoneButtonCallback() {
    NV_ASSERT_GUI_THREAD();
    auto cb = std::move(g_doneCallback);
    g_doneCallback = nullptr;
    if (g_services) g_services->DoneButtonChanged(false);
    if (cb) cb();
}

bool DoneButtonIsActive() {
    return bool(g_doneCallback);
}

void stopInactivityTimeout() {
    NV_ASSERT_GUI_THREAD();
    if (++g_busyCount == 1 && g_services) g_services->InactivityTimeoutEnabled(false);
}

void startInactivityTimeout() {
    NV_ASSERT_GUI_THREAD();
    if (g_busyCount <= 0) return;
    if (--g_busyCount == 0 && g_services) g_services->InactivityTimeoutEnabled(true);
}

bool isUserInterfaceBusy() {
    return g_busyCount >= 1;
}
int inactivityBusyCount() {
    return g_busyCount;
}

void setInteractive() {
    NV_ASSERT_GUI_THREAD();
    if (g_busyCount == 0 && g_services) g_services->InteractiveRequested();
}
