// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/quick_ui.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include <utility>

#include "app/appmodel.h"
#include "core/apppaths.h"

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
    m_alarmSound.Raised(id);
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
    m_alarmSound.Cleared(id);
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

void CQuickUiServices::ChooseFromList(const NV_HWND&, const std::string& title, const std::vector<CChoice>& choices,
                                      std::function<void(int)> done) {
    if (!theApp) {
        if (done) done(-1);
        return;
    }
    // One answer only, whichever entry is picked.
    auto answer = std::make_shared<std::function<void(int)>>(std::move(done));
    std::vector<CNavoraAppModel::MenuEntry> entries;
    for (size_t i = 0; i < choices.size(); ++i) {
        const CChoice& c = choices[i];
        QString text = QString::fromStdString(c.text);
        if (c.checked) text = QStringLiteral("✓ ") + text;
        QString icon = QString::fromStdString(c.icon);
        if (!icon.isEmpty() && !icon.contains(QLatin1Char(':'))) icon = QStringLiteral("qrc:/") + icon;
        entries.push_back({text, icon, [answer, i] {
                               if (auto cb = std::exchange(*answer, nullptr)) cb(int(i));
                           }});
    }
    theApp->showMenu(QString::fromStdString(title), std::move(entries));
}

namespace {
QStringList NameFilters(const CFileFilter& filter) {
    QStringList filters;
    if (!filter.extensions.empty()) {
        QStringList patterns;
        for (const std::string& e : filter.extensions) patterns << QStringLiteral("*.") + QString::fromStdString(e);
        filters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(filter.name), patterns.join(QLatin1Char(' ')));
    }
    filters << QStringLiteral("All files (*)");
    return filters;
}
}  // namespace

void CQuickUiServices::PickFileToOpen(const NV_HWND&, const std::string& title, const CFileFilter& filter,
                                      std::function<void(const std::string&)> done) {
    if (!theApp) {
        if (done) done({});
        return;
    }
    theApp->requestFile(QString::fromStdString(title), NameFilters(filter), false, QString(), std::move(done));
}

void CQuickUiServices::OfferFileToSave(const NV_HWND&, const std::string& path, const std::string& suggestedName,
                                       const CFileFilter& filter) {
    if (!theApp) return;
    // The documents folder when the desktop has one; a fresh account may not.
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty() || !QDir(docs).exists()) docs = QDir::homePath();
    const QString suggested = QUrl::fromLocalFile(QDir(docs).filePath(QString::fromStdString(suggestedName))).toString();
    theApp->requestFile(QStringLiteral("Save %1").arg(QString::fromStdString(suggestedName)), NameFilters(filter), true,
                        suggested, [path](const std::string& to) {
                            if (to.empty()) return;
                            auto write = [path, to] {
                                // A copy under a name of its own first, renamed over the
                                // destination in one step: never a half-written file there,
                                // and no other file of the user's touched on the way.
                                const QString dest = QString::fromLocal8Bit(to.c_str());
                                QTemporaryFile tmp(dest + QStringLiteral(".XXXXXX"));
                                bool ok = tmp.open();
                                // Readable as any file the user saves (temporary files are private).
                                if (ok)
                                    tmp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                       QFileDevice::ReadGroup | QFileDevice::ReadOther);
                                QFile source(QString::fromLocal8Bit(path.c_str()));
                                if (ok) ok = source.open(QIODevice::ReadOnly);
                                if (ok) ok = tmp.write(source.readAll()) == source.size() && tmp.flush();
                                if (ok) ok = ReplaceFile(tmp.fileName().toLocal8Bit().toStdString(), to);
                                if (ok)
                                    tmp.setAutoRemove(false);  // it is the destination now
                                else
                                    MessageBoxOK(NV_HWND(theApp), "Export Failed", "Could not write " + to);
                            };
                            if (QFile::exists(QString::fromLocal8Bit(to.c_str())))
                                MessageBoxYesNo(NV_HWND(theApp), "Replace file",
                                                "\"" + to + "\" already exists. Replace it?", write);
                            else
                                write();
                        });
}

void CQuickUiServices::ShowPage(const NV_HWND&, const CPageRequest& request, std::function<void(bool)> done) {
    const AppPage* page = FindAppPage(request.page);
    if (!page) {
        // A page this build does not have: nothing was confirmed.
        qWarning().noquote() << "No page" << QString::fromStdString(request.page);
        if (done) done(false);
        return;
    }
    ShowAppPage(*page, std::move(done));
}

void CQuickUiServices::ShowHelp(const std::string& tag) {
    if (theApp) theApp->showHelpForTag(QString::fromStdString(tag));
}

void CQuickUiServices::LockScreen() {
    if (theApp) Q_EMIT theApp->screenLocked();
}

void CQuickUiServices::SetFullScreen(bool full) {
    if (theApp) theApp->setFullScreen(full);
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
