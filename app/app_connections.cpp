// SPDX-License-Identifier: GPL-3.0-or-later
// Connects the data connections, the GPS position and the engine's menus and dialogs to
// the user interface of the main window.
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QUrl>

#include "app/appmodel.h"
#include "core/apppaths.h"
#include "displays/actionsheet.h"
#include "maplib/chartview.h"
#include "navdata/connection_models.h"
#include "navdata/dataconnection.h"
#include "navdata/feed_autopilot.h"
#include "navdata/gpsposition.h"

namespace {

// The window's menus are lists of entries; the engine's are trees.
std::vector<CNavoraAppModel::MenuEntry> ToEntries(const NV_HWND& hwnd, const std::shared_ptr<CActionSheetMenu>& menu);

void PresentActionSheet(const NV_HWND& hwnd, std::shared_ptr<CActionSheetMenu> menu) {
    if (!theApp || !menu) return;
    theApp->showMenu(QString::fromStdString(menu->title), ToEntries(hwnd, menu));
}

std::vector<CNavoraAppModel::MenuEntry> ToEntries(const NV_HWND& hwnd, const std::shared_ptr<CActionSheetMenu>& menu) {
    std::vector<CNavoraAppModel::MenuEntry> out;
    for (const CActionSheetMenu::Entry& e : menu->entries) {
        QString text = QString::fromStdString(e.text);
        if (e.checked) text = QStringLiteral("✓ ") + text;
        QString icon = QString::fromStdString(e.icon);
        if (!icon.isEmpty() && !icon.contains(QLatin1Char(':'))) icon = QStringLiteral("qrc:/") + icon;
        if (e.submenu) {
            // Keep the menu alive for as long as its entry can still be chosen.
            auto sub = e.submenu;
            out.push_back({text, icon, [hwnd, sub] { PresentActionSheet(hwnd, sub); }});
        } else {
            out.push_back({text, icon, e.action});
        }
    }
    return out;
}

void ShowChoiceList(const std::string& title, const std::vector<std::string>& items, std::function<void(int)> done) {
    if (!theApp) {
        if (done) done(-1);
        return;
    }
    std::vector<CNavoraAppModel::MenuEntry> entries;
    for (size_t i = 0; i < items.size(); ++i)
        entries.push_back({QString::fromStdString(items[i]), QString(), [done, i] {
                               if (done) done(int(i));
                           }});
    theApp->showMenu(QString::fromStdString(title), std::move(entries));
}

// A set-up page with a model made for it; the model goes when the page answers.
template <class Model>
void ShowSetupPage(const QString& title, const char* qml, std::function<void(bool)> done) {
    QPointer<Model> model = new Model(theApp);
    theApp->requestPage(title, QString::fromLatin1(qml), model, [model, done](bool ok) {
        if (model) model->deleteLater();
        if (done) done(ok);
    });
}

void ShowConnectionSetup(const std::string& page, std::function<void(bool)> done) {
    if (!theApp) {
        if (done) done(false);
        return;
    }
    if (page == "SerialSetup")
        ShowSetupPage<CDlg_serial_setup>(QStringLiteral("Serial"), "qrc:/com/navora/nv/SerialSetup.qml", std::move(done));
    else if (page == "TcpSetup")
        ShowSetupPage<CDlg_tcp_setup>(QStringLiteral("TCP/IP"), "qrc:/com/navora/nv/TcpSetup.qml", std::move(done));
    else if (page == "UdpSetup")
        ShowSetupPage<CDlg_udp_setup>(QStringLiteral("UDP/IP"), "qrc:/com/navora/nv/UdpSetup.qml", std::move(done));
    else if (done)
        done(true);
}

QStringList FiltersFor(const std::string& mime, const std::string& extension) {
    QStringList filters;
    if (!extension.empty()) {
        QStringList patterns;
        for (const QString& e : QString::fromStdString(extension).split(QLatin1Char(','), Qt::SkipEmptyParts))
            patterns << QStringLiteral("*.") + e.trimmed();
        // Logs of sentences come with any of these endings.
        const bool nmea = mime == "text/plain";
        if (nmea) patterns << QStringLiteral("*.nmea") << QStringLiteral("*.log");
        patterns.removeDuplicates();
        const QString kind = nmea ? QStringLiteral("NMEA logs") : QString::fromStdString(mime);
        filters << QStringLiteral("%1 (%2)").arg(kind, patterns.join(QLatin1Char(' ')));
    }
    filters << QStringLiteral("All files (*)");
    return filters;
}

}  // namespace

void CNavoraAppModel::showOutputRules() {
    ShowSetupPage<CDlg_output_rules>(QStringLiteral("Output rules"), "qrc:/com/navora/nv/OutputRules.qml", {});
}

// Called once before the window exists: everything that the engine asks of the user
// interface goes through the application model from then on.
void InstallUserInterfaceHooks() {
    SetActionSheetPresenter(PresentActionSheet);
    CQuickChartView::hooks().showActionSheet = [](const NV_HWND&, const std::string& title,
                                                  const std::vector<std::string>& items,
                                                  std::function<void(int)> done) {
        ShowChoiceList(title, items, std::move(done));
    };

    COverlayGPSPosition& gps = COverlayGPSPosition::theLatestPosition;
    // The autopilot sentence closes on the mark from where the boat is.
    CFeed_AutopilotRMB::SetPosition(&gps);
    CConnectionHooks& h = CDataConnection::hooks;
    h.showMenu = [](const NV_HWND&, const std::string& title, const std::vector<std::string>& items,
                    std::function<void(int)> done) { ShowChoiceList(title, items, std::move(done)); };
    h.showSetupPage = [](const NV_HWND&, const std::string& page, std::function<void(bool)> done) {
        ShowConnectionSetup(page, std::move(done));
    };
    h.importFile = [](const NV_HWND&, const std::string& mime, const std::string& extension,
                      std::function<void(bool, const std::string&)> done) {
        if (!theApp) {
            if (done) done(false, {});
            return;
        }
        theApp->requestFile(QStringLiteral("Choose a file"), FiltersFor(mime, extension), false, QString(),
                            [done](const std::string& path) {
                                if (done) done(!path.empty(), path);
                            });
    };
    h.exportFileAs = [](const NV_HWND&, const std::string& path, const std::string& name, const std::string& mime) {
        if (!theApp) return;
        const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString suggested =
            QUrl::fromLocalFile(QDir(docs.isEmpty() ? QDir::homePath() : docs).filePath(QString::fromStdString(name)))
                .toString();
        theApp->requestFile(QStringLiteral("Save %1").arg(QString::fromStdString(name)),
                            FiltersFor(mime, FileExtension(name)), true, suggested, [path](const std::string& to) {
                                if (to.empty()) return;
                                // Never leave a half-written copy where the user asked for one.
                                const QString dest = QString::fromLocal8Bit(to.c_str());
                                const QString tmp = dest + QStringLiteral(".tmp");
                                QFile::remove(tmp);
                                if (!QFile::copy(QString::fromLocal8Bit(path.c_str()), tmp)) {
                                    MessageBoxOK(NV_HWND(theApp), "Export Failed", "Could not write " + to);
                                    return;
                                }
                                QFile::remove(dest);
                                if (!QFile::rename(tmp, dest))
                                    MessageBoxOK(NV_HWND(theApp), "Export Failed", "Could not write " + to);
                            });
    };

    CNavoraAppModel::extraMainMenuEntries = [] {
        std::vector<CNavoraAppModel::MenuEntry> entries;
        entries.push_back({QStringLiteral("GPS Connection"), QStringLiteral("qrc:/gps_lock.svg"), [] {
                               CDataConnection::SelectConnectionType(NV_HWND(theApp), [](bool) {});
                           }});
        return entries;
    };
}
