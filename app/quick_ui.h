// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <deque>
#include <memory>
#include <map>
#include <set>

#include "app/alarm_sound.h"
#include "core/uiservices.h"

// The user-interface services as the QtQuick application provides them. Message boxes
// asked for before the application model exists wait until it does.
class CQuickUiServices : public QObject, public IUiServices {
    Q_OBJECT
public:
    CQuickUiServices();
    ~CQuickUiServices() override;

    void ShowMessage(const NV_HWND& parent, const std::string& title, const std::string& text,
                     const std::vector<std::string>& buttons, std::function<void(int)> done) override;
    void SetStatusMessage(const std::string& text) override;
    void ShowSystemNotification(const std::string& id, const std::string& title, const std::string& text) override;
    void CancelSystemNotification(const std::string& id) override;
    void ShowProgress(const NV_HWND& parent, std::shared_ptr<CProgressDialogData> data) override;
    void ChooseFromList(const NV_HWND& parent, const std::string& title, const std::vector<CChoice>& choices,
                        std::function<void(int)> done) override;
    void PickFileToOpen(const NV_HWND& parent, const std::string& title, const CFileFilter& filter,
                        std::function<void(const std::string&)> done) override;
    void OfferFileToSave(const NV_HWND& parent, const std::string& path, const std::string& suggestedName,
                         const CFileFilter& filter) override;
    void ShowPage(const NV_HWND& parent, const CPageRequest& request, std::function<void(bool)> done) override;
    void ShowHelp(const std::string& tag) override;
    void LockScreen() override;
    void SetFullScreen(bool full) override;
    void DoneButtonChanged(bool visible) override;
    void InactivityTimeoutEnabled(bool enabled) override;
    void InteractiveRequested() override;

    // Called once the application model exists.
    void FlushPending();

private:
    struct Pending {
        std::string title, text;
        std::vector<std::string> buttons;
        std::function<void(int)> done;
    };
    std::deque<Pending> m_pending;
    std::map<std::string, uint> m_notificationIds;
    CAlarmSound m_alarmSound;
};

// Desktop notifications through org.freedesktop.Notifications on the session bus.
// Returns the notification id, or 0 when no notification service answers.
uint SendDesktopNotification(const QString& title, const QString& text, uint replacesId);
void CloseDesktopNotification(uint id);
