// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one way engine code talks to the user. The application installs a QtQuick
// implementation at start-up; tests install a recording one. Without any, messages go
// to the debug output, which is what command-line tools want.
//
// All of it is called on the GUI thread; callbacks also run there.

#include <QPointF>
#include <QPointer>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Handle passed to every operation that may show a dialog: a weak reference to the
// parent user-interface item and the point the dialog should appear near. An empty
// handle makes dialogs use the application model's item.
struct NV_HWND {
    QPointer<QObject> item;
    QPointF anchor;

    NV_HWND() = default;
    explicit NV_HWND(QObject* i, QPointF a = {}) : item(i), anchor(a) {}
    bool IsEmpty() const { return item.isNull(); }
};

// Shared between a long operation and the progress dialog that shows it. The operation
// may run on a worker thread, so every field is atomic or guarded.
class CProgressDialogData {
public:
    explicit CProgressDialogData(std::string title = {}) : m_title(std::move(title)) {}

    const std::string& Title() const { return m_title; }
    void SetProgress(double fraction) { m_progress.store(fraction); }
    double Progress() const { return m_progress.load(); }
    void Cancel() { m_cancelled.store(true); }
    bool IsCancelled() const { return m_cancelled.load(); }
    void SetDone() { m_done.store(true); }
    bool IsDone() const { return m_done.load(); }
    // Transfers also tell how many bytes are done of how many (total 0: not known yet);
    // the fraction follows when the total is known.
    void SetBytes(long long done, long long total) {
        m_bytesDone.store(done);
        m_bytesTotal.store(total);
        if (total > 0) SetProgress(static_cast<double>(done) / static_cast<double>(total));
    }
    long long BytesDone() const { return m_bytesDone.load(); }
    long long BytesTotal() const { return m_bytesTotal.load(); }

private:
    std::string m_title;
    std::atomic<double> m_progress{0};
    std::atomic<long long> m_bytesDone{0};
    std::atomic<long long> m_bytesTotal{0};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_done{false};
};

// One entry of a list of choices (a menu, an action sheet).
struct CChoice {
    std::string text;
    std::string icon;  // an icon name of the application ("record.svg"), or empty
    bool checked = false;
};

// The kind of file a picker offers: a name for people and the extensions (no dots).
struct CFileFilter {
    std::string name;  // "NMEA logs"
    std::vector<std::string> extensions;
};

// A page or dialog of the application, asked for by name, with text arguments. The
// pages are the application's: "SerialSetup", "TcpSetup", "UdpSetup", "Map Options",
// "FindPlace" (arguments "index", "lat", "lon"), ...
struct CPageRequest {
    std::string page;
    std::vector<std::pair<std::string, std::string>> args;
    std::string Arg(const std::string& key) const {
        for (const auto& [k, v] : args)
            if (k == key) return v;
        return {};
    }
};

// Everything the engine may ask of the user interface, in one place. The application
// implements it (app/quick_ui.*); tests record what was asked (tests/support/recording_ui.h).
// Without an implementation, messages go to the debug output and every question gets
// its cautious answer, which is what command-line tools want.
class IUiServices {
public:
    virtual ~IUiServices() = default;

    // ---- messages
    // Button texts are the user-visible ones ("  OK  ", "  Yes  ", " No ").
    virtual void ShowMessage(const NV_HWND& parent, const std::string& title, const std::string& text,
                             const std::vector<std::string>& buttons, std::function<void(int)> done) = 0;
    virtual void SetStatusMessage(const std::string& text) = 0;
    virtual void ShowSystemNotification(const std::string& id, const std::string& title, const std::string& text) = 0;
    virtual void CancelSystemNotification(const std::string& id) = 0;
    virtual void ShowProgress(const NV_HWND& parent, std::shared_ptr<CProgressDialogData> data) = 0;

    // ---- questions
    // A list of choices under a title; `done` gets the index chosen, or -1 when dismissed.
    virtual void ChooseFromList(const NV_HWND&, const std::string& /*title*/, const std::vector<CChoice>& /*choices*/,
                                std::function<void(int)> done) {
        if (done) done(-1);
    }
    // A file to read; `done` gets its path, or "" when the user cancelled.
    virtual void PickFileToOpen(const NV_HWND&, const std::string& /*title*/, const CFileFilter& /*filter*/,
                                std::function<void(const std::string&)> done) {
        if (done) done({});
    }
    // A file the engine made (a log, an export) to be saved where the user chooses; the
    // copy is written through a temporary file.
    virtual void OfferFileToSave(const NV_HWND&, const std::string& /*path*/, const std::string& /*suggestedName*/,
                                 const CFileFilter& /*filter*/) {}
    // A page or dialog by name; `done` gets whether the user confirmed it. Without a user
    // interface the stored settings stand: confirmed.
    virtual void ShowPage(const NV_HWND&, const CPageRequest& /*request*/, std::function<void(bool)> done) {
        if (done) done(true);
    }
    // The user guide at the chapter about `tag`.
    virtual void ShowHelp(const std::string& /*tag*/) {}

    // ---- the window
    virtual void LockScreen() {}
    virtual void SetFullScreen(bool /*full*/) {}

    // ---- state the user interface mirrors
    virtual void DoneButtonChanged(bool /*visible*/) {}
    virtual void InactivityTimeoutEnabled(bool /*enabled*/) {}
    virtual void InteractiveRequested() {}
};

// Installs the implementation (not owned); null restores the debug-output fallback.
void SetUiServices(IUiServices* services);
IUiServices* GetUiServices();

void MessageBoxOK(const NV_HWND& parent, const std::string& title, const std::string& text,
                  std::function<void()> done = {});
void MessageBoxYesNo(const NV_HWND& parent, const std::string& title, const std::string& text,
                     std::function<void()> onYes, std::function<void()> onNo = {});
// `done` receives the index (0, 1, 2) of the button chosen.
void MessageBox3(const NV_HWND& parent, const std::string& title, const std::string& text, const std::string& button1,
                 const std::string& button2, const std::string& button3, std::function<void(int)> done);
void MessageBoxHint(const NV_HWND& parent, const std::string& text);

void SetStatusMessage(const std::string& text);  // an empty text clears the status line
void ClearStatusMessage();

void ShowSystemNotification(const std::string& id, const std::string& title, const std::string& text);
void CancelSystemNotification(const std::string& id);
void ShowProgressDialog(const NV_HWND& parent, std::shared_ptr<CProgressDialogData> data);

void ChooseFromList(const NV_HWND& parent, const std::string& title, const std::vector<CChoice>& choices,
                    std::function<void(int)> done);
void ChooseFromList(const NV_HWND& parent, const std::string& title, const std::vector<std::string>& items,
                    std::function<void(int)> done);
void PickFileToOpen(const NV_HWND& parent, const std::string& title, const CFileFilter& filter,
                    std::function<void(const std::string&)> done);
void OfferFileToSave(const NV_HWND& parent, const std::string& path, const std::string& suggestedName,
                     const CFileFilter& filter);
void ShowPage(const NV_HWND& parent, const CPageRequest& request, std::function<void(bool)> done = {});
void ShowHelp(const std::string& tag);
void LockScreen();
void SetFullScreen(bool full);

// The on-screen Done button. Setting a callback first runs and discards any previous one.
void SetDoneButtonCallback(std::function<void()> callback);
void SetDoneButtonCallback(void (*callback)(void*), void* context);
void ClearDoneButtonCallback();
void InvokeDoneButtonCallback();
bool DoneButtonIsActive();

// Nesting count of periods in which the user interface is busy.
void stopInactivityTimeout();
void startInactivityTimeout();
bool isUserInterfaceBusy();
int inactivityBusyCount();
void setInteractive();
