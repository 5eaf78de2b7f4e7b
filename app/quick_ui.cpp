// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/quick_ui.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDebug>

#include "app/appmodel.h"

namespace {
QStringList ToQStringList(const std::vector<std::string>& v) {
    QStringList l;
    for (const auto& s : v) l.append(QString::fromStdString(s));
    return l;
}
const QString kNotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotifyPath = QStringLiteral("/org/freedesktop/Notifications");
}  // namespace

uint SendDesktopNotification(const QString& title, const QString& text, uint replacesId) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kNotifyService)) return 0;
    QDBusMessage m =
        QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyService, QStringLiteral("Notify"));
    m << QStringLiteral("Navora") << replacesId << QStringLiteral("navora") << title << text << QStringList()
      << QVariantMap() << int(-1);
    QDBusReply<uint> reply = bus.call(m, QDBus::Block, 1000);
    return reply.isValid() ? reply.value() : 0;
}

void CloseDesktopNotification(uint id) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || id == 0) return;
    QDBusMessage m = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyService,
                                                    QStringLiteral("CloseNotification"));
    m << id;
    bus.call(m, QDBus::NoBlock);
}

CQuickUiServices::CQuickUiServices() {
    SetUiServices(this);
}

CQuickUiServices::~CQuickUiServices() {
    if (GetUiServices() == this) SetUiServices(nullptr);
}

void CQuickUiServices::ShowMessage(const NV_HWND&, const std::string& title, const std::string& text,
                                   const std::vector<std::string>& buttons, std::function<void(int)> done) {
    qInfo().noquote() << QString::fromStdString(title) + QStringLiteral(": ") + QString::fromStdString(text);
    if (!theApp) {
        m_pending.push_back({title, text, buttons, std::move(done)});
        return;
    }
    theApp->requestMessageBox(QString::fromStdString(title), QString::fromStdString(text), ToQStringList(buttons),
                              std::move(done));
}

void CQuickUiServices::FlushPending() {
    while (theApp && !m_pending.empty()) {
        Pending p = std::move(m_pending.front());
        m_pending.pop_front();
        theApp->requestMessageBox(QString::fromStdString(p.title), QString::fromStdString(p.text),
                                  ToQStringList(p.buttons), std::move(p.done));
    }
}

void CQuickUiServices::SetStatusMessage(const std::string& text) {
    if (theApp) theApp->setStatusText(QString::fromStdString(text));
}

void CQuickUiServices::ShowSystemNotification(const std::string& id, const std::string& title,
                                              const std::string& text) {
    const uint previous = m_notificationIds.count(id) ? m_notificationIds[id] : 0;
    const uint nid = SendDesktopNotification(QString::fromStdString(title), QString::fromStdString(text), previous);
    if (nid) {
        m_notificationIds[id] = nid;
        return;
    }
    // No notification service (a bare X session, a kiosk): the status line still tells.
    SetStatusMessage(title + ": " + text);
}

void CQuickUiServices::CancelSystemNotification(const std::string& id) {
    auto it = m_notificationIds.find(id);
    if (it == m_notificationIds.end()) return;
    CloseDesktopNotification(it->second);
    m_notificationIds.erase(it);
}

void CQuickUiServices::ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData> data) {
    // The progress dialog arrives with the first long operation (downloads); until then
    // the status line carries the title.
    if (data) SetStatusMessage(data->Title());
}

void CQuickUiServices::DoneButtonChanged(bool visible) {
    if (theApp) theApp->setShowDoneButton(visible);
}

void CQuickUiServices::InactivityTimeoutEnabled(bool enabled) {
    if (!theApp) return;
    theApp->setBusy(!enabled);
    Q_EMIT theApp->enableInactivityTimeout(enabled);
    if (enabled) theApp->widthOrHeightChanged();
}

void CQuickUiServices::InteractiveRequested() {
    if (theApp) Q_EMIT theApp->setInteractive();
}
