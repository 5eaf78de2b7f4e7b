// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/appmodel.h"
#include "app/overlay_list_model.h"
#include "app/overlays_ui.h"
#include "overlays/markmanager.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QDebug>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QScreen>
#include <QUrl>
#include <QUrlQuery>

#include "app/commandline.h"
#include "app/single_instance.h"
#include "app/userguide.h"
#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "core/uiservices.h"
#include "displays/displayview.h"
#include "maplib/chartlist.h"
#include "maplib/chartview.h"
#include "maplib/quick/mapitem.h"
#include "online/onlinesettings.h"
#include "online/webclient.h"
#include "online/webprogress.h"

CNavoraAppModel* theApp = nullptr;
QQmlApplicationEngine* theAppEngine = nullptr;
CSingleInstance* theSingleInstance = nullptr;

const char* const kSupportAddress = "https://navora.app/support";

std::string CNavoraAppModel::activityCommand;
std::string CNavoraAppModel::activityQuery;

namespace {

std::vector<AppPage>& AppPageList() {
    static std::vector<AppPage> pages;
    return pages;
}

// Window-level choices the user makes from the main window.
class AppModelSettings : public PersistantData {
public:
    AppModelSettings() : PersistantData("CNavoraAppModel") {}
    void DeclareData() override {
        Declare("darkTheme", darkTheme);
    }
    bool darkTheme = false;
};
AppModelSettings g_appSettings;

}  // namespace

void RegisterPage(AppPage page) {
    AppPageList().push_back(std::move(page));
}
const std::vector<AppPage>& AppPages() {
    return AppPageList();
}
const AppPage* FindAppPage(const std::string& name) {
    for (const AppPage& p : AppPageList())
        if (p.name == name) return &p;
    return nullptr;
}

void ShowAppPage(const AppPage& page, std::function<void(bool)> done) {
    if (!theApp) {
        if (done) done(false);
        return;
    }
    QObject* model = page.model ? page.model() : nullptr;
    QPointer<QObject> owned = page.freshModel ? model : nullptr;
    theApp->requestPage(page.title, page.qmlFile, model, [owned, done](bool ok) {
        if (owned) owned->deleteLater();
        if (done) done(ok);
    });
}

CNavoraAppModel::CNavoraAppModel(QQuickItem* parent)
    : QQuickItem(parent), m_layout(std::make_unique<CDisplayViewArrangementSet>()) {
    m_layout->loadInitialLayout();
    SetActiveArrangementSet(m_layout.get());
    theApp = this;
    m_darkTheme = g_appSettings.darkTheme;
    m_crashDetector = std::make_unique<CrashDetector>("app", getAppDirectory());
    if (theSingleInstance) {
        connect(theSingleInstance, &CSingleInstance::receivedMessage, this,
                &CNavoraAppModel::messageFromAnotherInstance, Qt::QueuedConnection);
    }
    // The engagement prompt belongs to the online services; until they exist the timer
    // only keeps its place in the life cycle.
    m_engagementTimer.setSingleShot(true);
    m_engagementTimer.setInterval(60000);
    m_engagementTimer.start();
    connect(this, &CNavoraAppModel::applicationDidBecomeActive, &m_engagementTimer, qOverload<>(&QTimer::start));
    connect(this, &CNavoraAppModel::applicationWillResignActive, &m_engagementTimer, &QTimer::stop);
}

CNavoraAppModel::~CNavoraAppModel() {
    // The page items may go before or after the model; the layout must not keep adaptors
    // that belong to them.
    if (CDisplayView* page = m_layout->getCurrentPage()) page->DetachFromWindow();
    m_layout->save_layout_if_changed();
    if (GetActiveArrangementSet() == m_layout.get()) SetActiveArrangementSet(nullptr);
    if (theApp == this) theApp = nullptr;
}

void CNavoraAppModel::setShowDoneButton(bool show) {
    if (show == m_showDoneButton) return;
    m_showDoneButton = show;
    Q_EMIT showDoneButtonChanged();
}

void CNavoraAppModel::setScreenDimmer(double v) {
    if (v == m_screenDimmer) return;
    m_screenDimmer = v;
    Q_EMIT screenDimmerChanged();
}

void CNavoraAppModel::setStatusText(const QString& text) {
    if (text == m_statusText) return;
    m_statusText = text;
    Q_EMIT statusTextChanged();
}

void CNavoraAppModel::clearStatusText() {
    setStatusText({});
}

void CNavoraAppModel::setDarkTheme(bool dark) {
    if (dark == m_darkTheme) return;
    m_darkTheme = dark;
    g_appSettings.darkTheme = dark;
    g_appSettings.SetChanged();
    save_all_app_data();
    Q_EMIT themeChanged();
}

// The choice lives with the map's settings, where the Map Options page also changes it.
bool CNavoraAppModel::fullScreen() const {
    return CQuickChartView::settings().full_screen;
}

void CNavoraAppModel::setFullScreen(bool full) {
    CQuickChartView::Settings& s = CQuickChartView::settings();
    if (full != s.full_screen) {
        s.full_screen = full;
        s.SetChanged();
        save_all_app_data();
    }
    if (QQuickWindow* w = window()) {
        if (full)
            w->showFullScreen();
        else
            w->showNormal();
    }
    widthOrHeightChanged();
    Q_EMIT fullscreenChanged();
}

void CNavoraAppModel::setUiControlsTimeout(int ms) {
    if (ms == m_uiControlsTimeout_ms) return;
    m_uiControlsTimeout_ms = ms;
    Q_EMIT appTimoutChanged();
}

QString CNavoraAppModel::versionText() const {
    return QCoreApplication::applicationVersion();
}

void CNavoraAppModel::setBusy(bool busy) {
    const bool was = appBusy();
    m_busyCount += busy ? 1 : -1;
    if (m_busyCount < 0) m_busyCount = 0;
    if (was != appBusy()) Q_EMIT appBusyChanged();
}

void CNavoraAppModel::onDoneButton() {
    InvokeDoneButtonCallback();
}

// ---- menus ------------------------------------------------------------------------------

void CNavoraAppModel::showMenu(const QString& title, std::vector<MenuEntry> entries) {
    m_openMenuId = m_nextMenuId++;
    m_openMenu = std::move(entries);
    QVariantList list;
    for (const MenuEntry& e : m_openMenu) {
        QVariantMap m;
        m.insert(QStringLiteral("text"), e.text);
        m.insert(QStringLiteral("icon"), e.icon);
        list.append(m);
    }
    Q_EMIT actionSheetRequested(m_openMenuId, title, list);
}

void CNavoraAppModel::actionChosen(int menuId, int index) {
    if (menuId != m_openMenuId || index < 0 || size_t(index) >= m_openMenu.size()) return;
    auto action = m_openMenu[size_t(index)].action;
    m_openMenuId = 0;
    m_openMenu.clear();
    if (action) action();
}

void CNavoraAppModel::onMenuButtonClicked(QQuickItem*) {
    std::vector<MenuEntry> entries;
    entries.push_back({QStringLiteral("Settings"), QStringLiteral("qrc:/settings.svg"), [this] {
                           std::vector<MenuEntry> pages;
                           for (const AppPage& p : AppPages()) {
                               if (!p.inSettingsMenu || (p.offered && !p.offered())) continue;
                               pages.push_back({QString::fromStdString(p.name), QString(),
                                                [p] { ShowAppPage(p, {}); }});
                           }
                           showMenu(QStringLiteral("Settings:"), std::move(pages));
                       }});
    if (extraMainMenuEntries) {
        for (MenuEntry& e : extraMainMenuEntries()) entries.push_back(std::move(e));
    }
    entries.push_back({QStringLiteral("Edit Layout"), QStringLiteral("qrc:/movearrows.svg"), [this] { EditLayout(); }});
    entries.push_back(
        {QStringLiteral("Lock Screen"), QStringLiteral("qrc:/locked.svg"), [this] { Q_EMIT screenLocked(); }});
    entries.push_back({QStringLiteral("Help"), QStringLiteral("qrc:/Help.svg"), [this] { showHelp({}); }});
    entries.push_back({QStringLiteral("Quit App"), QStringLiteral("qrc:/red_x.svg"), [] { QCoreApplication::quit(); }});
    showMenu(QStringLiteral("Main Menu"), std::move(entries));
}

bool CNavoraAppModel::hasOverlaysMenu() const {
    return g_mark_manager != nullptr && COverlaysUi::Instance() != nullptr;
}

void CNavoraAppModel::onOverlaysButtonClicked(QQuickItem* button) {
    std::vector<MenuEntry> entries;
    for (NOverlayActions::Entry& e : COverlaysUi::OverlaysMenu(NV_HWND(button ? static_cast<QObject*>(button) : this)))
        entries.push_back({QString::fromStdString(e.text), QStringLiteral("qrc:/") + QString::fromStdString(e.icon),
                           std::move(e.action)});
    showMenu(QStringLiteral("Overlays"), std::move(entries));
}

void CNavoraAppModel::showOverlaysList(QQuickItem* parent) {
    COverlayListModel::Show(parent ? parent : this);
}

// Help is the guide shipped with the program: it works at sea, without a network.
void CNavoraAppModel::showHelp(const QString& tag) {
    if (!m_guide) m_guide = new CUserGuide(this);
    m_guide->showTag(tag);
    requestPage(tr("Help"), QStringLiteral("qrc:/com/navora/nv/HelpPage.qml"), m_guide);
}

void CNavoraAppModel::showHelpForTag(QString tag) {
    showHelp(tag);
}

// ---- message boxes ------------------------------------------------------------------------

int CNavoraAppModel::requestMessageBox(const QString& title, const QString& text, const QStringList& buttons,
                                       std::function<void(int)> done) {
    const int id = m_nextMessageId++;
    m_pendingMessages.emplace_back(id, std::move(done));
    Q_EMIT messageBoxRequested(id, title, text, buttons);
    return id;
}

void CNavoraAppModel::messageBoxAnswered(int id, int button) {
    for (auto it = m_pendingMessages.begin(); it != m_pendingMessages.end(); ++it) {
        if (it->first != id) continue;
        auto done = std::move(it->second);
        m_pendingMessages.erase(it);
        if (done) done(button);
        return;
    }
}

void CNavoraAppModel::requestPage(const QString& title, const QString& qmlFile, QObject* model,
                                  std::function<void(bool)> done) {
    const int id = m_nextMessageId++;
    // A page replaced by another before it answered counts as cancelled.
    auto pending = std::move(m_pendingPages);
    m_pendingPages.clear();
    m_pendingPages.emplace_back(id, std::move(done));
    for (auto& p : pending)
        if (p.second) p.second(false);
    Q_EMIT settingsPageRequested(title, qmlFile, model, id);
}

void CNavoraAppModel::pageFinished(int requestId, bool ok) {
    for (auto it = m_pendingPages.begin(); it != m_pendingPages.end(); ++it) {
        if (it->first != requestId) continue;
        auto done = std::move(it->second);
        m_pendingPages.erase(it);
        if (done) done(ok);
        return;
    }
}

void CNavoraAppModel::requestFile(const QString& title, const QStringList& nameFilters, bool save,
                                  const QString& suggestedName, std::function<void(const std::string&)> done) {
    if (m_pendingFile.second) m_pendingFile.second({});
    const int id = m_nextMessageId++;
    m_pendingFile = {id, std::move(done)};
    Q_EMIT fileDialogRequested(id, title, nameFilters, save, suggestedName);
}

void CNavoraAppModel::fileChosen(int requestId, const QUrl& file) {
    if (requestId != m_pendingFile.first || !m_pendingFile.second) return;
    auto done = std::move(m_pendingFile.second);
    m_pendingFile = {};
    done(file.isEmpty() ? std::string() : file.toLocalFile().toLocal8Bit().toStdString());
}

// ---- command lines and links ----------------------------------------------------------------

void CNavoraAppModel::messageFromAnotherInstance(uint instanceId, QByteArray message) {
    qInfo().noquote() << "Message from instance" << instanceId << ":" << QString::fromLocal8Bit(message);
    if (QQuickWindow* w = window()) {
        w->setWindowStates(w->windowStates() & ~Qt::WindowMinimized);
        w->show();
        w->raise();
        w->requestActivate();
    }
    processCommandLine(ParseStartupArguments(QString::fromLocal8Bit(message).split(QLatin1Char('\n'))).files);
}

void CNavoraAppModel::processCommandLine(const QStringList& args) {
    for (int i = 1; i < args.size(); ++i) {
        const std::string arg = args[i].toLocal8Bit().toStdString();
        qInfo().noquote() << "Command line:" << args[i];
        const ArgumentAction a = ClassifyArgument(arg);
        switch (a.kind) {
            case ArgumentAction::OpenChart:
                onActivityCommand("open", a.query);
                break;
            case ArgumentAction::Import:
                importFileOfAnyType(NV_HWND(this), a.query, m_pendingImportBounds);
                break;
            case ArgumentAction::Activity:
                onActivityCommand(a.command, a.query);
                break;
            case ArgumentAction::Ignore:
                break;
        }
    }
    if (m_pendingImportBounds.IsValid() && ShowAreaOnTheMap(m_pendingImportBounds)) m_pendingImportBounds.SetEmpty();
}

void CNavoraAppModel::onActivityCommand(const std::string& command, const std::string& query) {
    activityCommand = NormaliseActivityCommand(command);
    activityQuery = query;
    if (theApp && theApp->m_pageAttached) theApp->onActivityCommandAttached();
}

void CNavoraAppModel::onActivityCommandAttached() {
    if (!m_pageAttached) return;
    if (m_crashDetector->crashDetected()) {
        m_crashDetector->clearCrashDetected();
        MessageBoxOK(NV_HWND(this), "Problem",
                     std::string("Last time the app closed, it did not properly shut down, and may not have saved "
                                 "all your data. If this problem persists, please contact us at ") +
                         kSupportAddress);
    }
    std::string command = std::move(activityCommand);
    std::string query = std::move(activityQuery);
    activityCommand.clear();
    activityQuery.clear();
    if (command.empty()) return;
    if (command == "fetch") command = "open";
    qInfo().noquote() << "Activity:" << QString::fromStdString(command) << QString::fromStdString(query);
    if (command == "open") {
        std::string path = query;
        const std::string ext = FileExtension(path);
        if (ext == "qc3" || ext == "qed") path = path.substr(0, path.size() - 3) + "qct";
        if (path.rfind("http://", 0) == 0 || path.rfind("https://", 0) == 0) {
            FetchIntoDownloadFolder(path);
            return;
        }
        importFileOfAnyType(NV_HWND(this), path, m_pendingImportBounds);
        if (ShowAreaOnTheMap(m_pendingImportBounds)) m_pendingImportBounds.SetEmpty();
    }
    if (command == "view" && !query.empty()) {
        const QUrlQuery q(QString::fromStdString(query));
        bool okLat = false, okLon = false;
        const double lat = q.queryItemValue(QStringLiteral("lat")).toDouble(&okLat);
        const double lon = q.queryItemValue(QStringLiteral("lon")).toDouble(&okLon);
        const double scale = q.queryItemValue(QStringLiteral("scale")).toDouble();
        if (okLat && okLon && lat >= -90 && lat <= 90 && lon >= -360 && lon <= 360)
            GotoBestMapInLargestMap(lat, lon, scale > 0 ? scale : 0);
    }
    if (command == "mark" && !query.empty()) {
        const QUrlQuery q(QString::fromStdString(query));
        bool okLat = false, okLon = false;
        const double lat = q.queryItemValue(QStringLiteral("lat")).toDouble(&okLat);
        const double lon = q.queryItemValue(QStringLiteral("lon")).toDouble(&okLon);
        if (!okLat || !okLon || lat < -90 || lat > 90 || lon < -360 || lon > 360 || !g_mark_manager) return;
        COverlayMark* mark = g_mark_manager->CreateNewMark(nullptr, lat, lon);
        if (!mark) return;
        auto text = [&q](const char* key) {
            return q.queryItemValue(QLatin1String(key), QUrl::FullyDecoded).toStdString();
        };
        if (const std::string name = text("name"); !name.empty()) mark->setName(name);
        if (const std::string category = text("category"); !category.empty()) mark->setCategory(category);
        if (const std::string link = text("link"); !link.empty()) mark->setLink(link);
        // Colours as the web writes them: "#RRGGBB", "RRGGBB" or with alpha first.
        std::string colourText = text("color");
        if (!colourText.empty() && colourText[0] != '#') colourText.insert(0, 1, '#');
        const QColor colour(QString::fromStdString(colourText));
        GraphicsColor gc{};
        if (colour.isValid()) gc = GraphicsColor{uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue()), 255};
        const std::string icon = text("icon");
        if (!icon.empty() || colour.isValid()) mark->SetIcon(icon.empty() ? mark->getIcon() : icon, gc);
        g_mark_manager->SetMarksChanged();
        mark->Dispatch(COverlayObject::UPDATE_CHANGED);
        g_mark_manager->SaveIfNeeded();
        constexpr double kHalfSpan = 0.01;  // degrees: the mark and its surroundings
        ShowAreaOnTheMap(CBounds(lon - kHalfSpan, lon + kHalfSpan, lat - kHalfSpan, lat + kHalfSpan));
    }
}

// An address of the chart server's download area ("…/KVS/…") is fetched, with progress,
// to the same place under the download folder, then opened like a local file. Charts are
// closed while one might be replaced and reopened if the download fails.
void CNavoraAppModel::FetchIntoDownloadFolder(const std::string& address) {
    const QUrl url(QString::fromStdString(address));
    const std::string path = url.path(QUrl::FullyDecoded).toStdString();
    const size_t kvs = path.find("/KVS/");
    CServerAddress server;
    server.secure = url.scheme().toLower() == QLatin1String("https");
    server.host = url.host().toStdString();
    server.port = url.port(0);
    const std::string relative = kvs == std::string::npos ? std::string() : path.substr(kvs + 5);
    if (!server.secure || relative.empty() || relative.find("..") != std::string::npos || !server.IsValid()) {
        MessageBoxOK(NV_HWND(this), "Problem",
                     "Only secure addresses of a chart server's download area (containing /KVS/) can be fetched:\n\n" +
                         address);
        return;
    }
    const std::string target = CChartList::getKVSfolder() + "/" + relative;
    QDir().mkpath(QFileInfo(QString::fromStdString(target)).path());
    const std::string ext = FileExtension(target);
    const bool chartOrPackage = ext == "qct" || ext == "nvpkg";
    if (!chartOrPackage) CDisplayViewQuickChart::closeAllMaps();
    auto* client = new CWebServer_NB(server);
    QPointer<CNavoraAppModel> self(this);
    GetFileProgressDlg(NV_HWND(this), client, path, target, "Downloading file " + FileNameOf(target),
                       [self, client, target, chartOrPackage](bool ok) {
                           const std::string error = client->ErrorText();
                           client->deleteLater();
                           if (!ok) {
                               if (!chartOrPackage) CDisplayViewQuickChart::reopenAllMaps();
                               if (self) MessageBoxOK(NV_HWND(self.data()), "Download failed", error);
                               return;
                           }
                           if (!chartOrPackage) CDisplayViewQuickChart::reopenAllMaps();
                           if (!self) return;
                           importFileOfAnyType(NV_HWND(self.data()), target, self->m_pendingImportBounds);
                           if (self->ShowAreaOnTheMap(self->m_pendingImportBounds)) self->m_pendingImportBounds.SetEmpty();
                       });
}
