// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QTimer>
#include <QUrl>
#include <QVariantList>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/crash_detector.h"
#include "core/display_metrics.h"
#include "core/geometry.h"
#include "displays/quick/displayviewpage.h"

class QQmlApplicationEngine;
class CSingleInstance;
class CNavoraAppModel;
class CDisplayViewArrangementSet;
class CDisplayView;
class CDisplayViewQuickChart;

extern CNavoraAppModel* theApp;
extern QQmlApplicationEngine* theAppEngine;
extern CSingleInstance* theSingleInstance;

bool load_app_data();
bool save_all_app_data();
// Destroys what load_app_data made (after the last save_all_app_data).
void release_app_data();

// A page the application can show: a QML file of the com.navora.nv module given `model`
// as its required model property. Settings pages are listed under "Settings" in the main
// menu; the engine asks for pages by name (ShowPage in core/uiservices.h).
struct AppPage {
    std::string name;   // what ShowPage asks for, and the settings menu's entry
    QString title;      // the heading shown above the page
    QString qmlFile;    // e.g. "qrc:/com/navora/nv/UnitsSettings.qml"
    std::function<QObject*()> model;
    bool inSettingsMenu = false;
    bool freshModel = false;  // the model is made for one showing and deleted after it
    // Whether the settings menu offers the page now (always when empty).
    std::function<bool()> offered;
};
void RegisterPage(AppPage page);
const std::vector<AppPage>& AppPages();
const AppPage* FindAppPage(const std::string& name);
// Shows a registered page; `done` gets whether the user confirmed it (false for an
// unknown page).
void ShowAppPage(const AppPage& page, std::function<void(bool)> done);
// Everything the application plugs into the engine, once at start.
void InstallAppServices();

// The one object the user interface binds to. Created by main.qml; everything runs on
// the GUI thread.
class CNavoraAppModel : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool showDoneButton READ showDoneButton WRITE setShowDoneButton NOTIFY showDoneButtonChanged)
    Q_PROPERTY(double screenDimmer READ screenDimmer WRITE setScreenDimmer NOTIFY screenDimmerChanged)
    Q_PROPERTY(bool hasPages READ hasPages NOTIFY pagesChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool darkTheme READ darkTheme WRITE setDarkTheme NOTIFY themeChanged)
    Q_PROPERTY(bool fullScreen READ fullScreen WRITE setFullScreen NOTIFY fullscreenChanged)
    Q_PROPERTY(bool appBusy READ appBusy NOTIFY appBusyChanged)
    Q_PROPERTY(int uiControlsTimeout_ms READ uiControlsTimeout WRITE setUiControlsTimeout NOTIFY appTimoutChanged)
    // Whether the main buttons have a map to act on; the buttons are hidden otherwise.
    Q_PROPERTY(bool hasMapItem READ hasMapItem NOTIFY mapItemChanged)
    Q_PROPERTY(bool hasOverlaysMenu READ hasOverlaysMenu NOTIFY mapItemChanged)
    Q_PROPERTY(bool canAddMarks READ canAddMarks NOTIFY mapItemChanged)
    Q_PROPERTY(QString versionText READ versionText CONSTANT)

public:
    explicit CNavoraAppModel(QQuickItem* parent = nullptr);
    ~CNavoraAppModel() override;

    bool showDoneButton() const { return m_showDoneButton; }
    void setShowDoneButton(bool show);
    double screenDimmer() const { return m_screenDimmer; }
    void setScreenDimmer(double v);
    bool hasPages() const;
    QString statusText() const { return m_statusText; }
    void setStatusText(const QString& text);
    bool darkTheme() const { return m_darkTheme; }
    void setDarkTheme(bool dark);
    bool fullScreen() const;
    bool canAddMarks() const;
    void setFullScreen(bool full);
    bool appBusy() const { return m_busyCount != 0; }
    int uiControlsTimeout() const { return m_uiControlsTimeout_ms; }
    void setUiControlsTimeout(int ms);
    bool hasMapItem() const;
    bool hasOverlaysMenu() const;
    QString versionText() const;

    void setBusy(bool busy);
    bool pageAttached() const { return m_pageAttached; }

    // Pages.
    CDisplayViewArrangementSet& layout() { return *m_layout; }
    CDisplayViewPage* currentPageItem() const;
    bool userIsArrangingLayout() const;
    // The largest map item on the current page; with `switchPage`, the last page of the
    // set that has one is shown when the current page has none.
    CDisplayViewQuickChart* FindLargestMapItem(bool switchPage);
    // The largest live item of one of `types`, likewise.
    CDisplayView::CItem* FindLargestItemOfTypes(const std::set<int>& types, bool switchPage);
    void transitionToPage(CDisplayView* page);
    void EditLayout();
    // Opens a chart in the largest map (switching pages when needed); false without one.
    bool OpenChartInLargestMap(const std::string& path);
    bool GotoBestMapInLargestMap(double lat, double lon, double scale);

    // Files and links: from the command line, another instance or the desktop.
    void processCommandLine(const QStringList& args);
    static void onActivityCommand(const std::string& command, const std::string& query);
    void onActivityCommandAttached();
    bool ShowAreaOnTheMap(const CBounds& bounds);
    void FetchIntoDownloadFolder(const std::string& address);

    // Message boxes requested by the engine (see CQuickUiServices).
    int requestMessageBox(const QString& title, const QString& text, const QStringList& buttons,
                          std::function<void(int)> done);

    // Shows a page of settings or a set-up page; `done` (may be empty) learns whether the
    // page ended with OK.
    void requestPage(const QString& title, const QString& qmlFile, QObject* model,
                     std::function<void(bool)> done = {});
    // Shows a menu; the chosen entry's action runs.
    struct MenuEntry {
        QString text;
        QString icon;
        std::function<void()> action;
    };
    void showMenu(const QString& title, std::vector<MenuEntry> entries);
    // Asks the user for a file to read (or, with `save`, where to write one); `done` gets
    // the local path, or an empty string when the user cancelled.
    void requestFile(const QString& title, const QStringList& nameFilters, bool save, const QString& suggestedName,
                     std::function<void(const std::string&)> done);
    // Entries the subsystems add to the main menu after "Settings".
    static inline std::function<std::vector<MenuEntry>()> extraMainMenuEntries;

    CrashDetector& crashDetector() { return *m_crashDetector; }

    static std::string activityCommand;
    static std::string activityQuery;

Q_SIGNALS:
    void showDoneButtonChanged();
    void screenDimmerChanged();
    void pagesChanged();
    void statusTextChanged();
    void themeChanged();
    void fullscreenChanged();
    void appBusyChanged();
    void appTimoutChanged();
    void mapItemChanged();
    void transition(CDisplayViewPage* old_item, CDisplayViewPage* new_item, int slide_direction);
    void enableInactivityTimeout(bool enable_timeout);
    void setInteractive();
    void screenLocked();
    void applicationDidBecomeActive();
    void applicationWillResignActive();

    // To the QML: show an action sheet; the answer comes back through actionChosen.
    void actionSheetRequested(int menuId, const QString& title, const QVariantList& entries);
    // To the QML: show a message box; the answer comes back through messageBoxAnswered.
    void messageBoxRequested(int id, const QString& title, const QString& text, const QStringList& buttons);
    // To the QML: open a settings page.
    void settingsPageRequested(const QString& title, const QString& qmlFile, QObject* model, int requestId);
    // To the QML: show a file dialog; the answer comes back through fileChosen.
    void fileDialogRequested(int requestId, const QString& title, const QStringList& nameFilters, bool save,
                             const QString& suggestedName);

public Q_SLOTS:
    void onMenuButtonClicked(QQuickItem* button);
    void onOverlaysButtonClicked(QQuickItem* button);
    void onPagesButton(QQuickItem* button);
    void showOverlaysList(QQuickItem* parent);
    void attachCurrentPageToItem(CDisplayViewPage* item_current, CDisplayViewPage* alt_item);
    void detachItem(CDisplayViewPage* item);
    void nextPage();
    void previousPage();
    void widthOrHeightChanged();
    void onPressPlusButton();
    void onLongPressPlusButton();
    void onPressMinusButton();
    void onLongPressMinusButton();
    void onPressUserButton();
    void onLongPressUserButton();
    void onDoneButton();
    void showHelpForTag(QString tag);
    void messageFromAnotherInstance(uint instanceId, QByteArray message);

    Q_INVOKABLE void clearStatusText();
    Q_INVOKABLE void actionChosen(int menuId, int index);
    Q_INVOKABLE void messageBoxAnswered(int id, int button);
    Q_INVOKABLE void pageFinished(int requestId, bool ok);
    Q_INVOKABLE void showOutputRules();
    Q_INVOKABLE void fileChosen(int requestId, const QUrl& file);

private:
    void doResize();
    void showHelp(const QString& tag);
    void attachPage(CDisplayViewPage* item, CDisplayView* page);
    void slideTo(CDisplayView* page, int direction);
    void onChangedCurrentPage();
    void applyInsets(CDisplayViewPage* item);

    bool m_showDoneButton = false;
    double m_screenDimmer = 0;
    QString m_statusText;
    int m_uiControlsTimeout_ms = 5000;
    bool m_landscape = true;
    bool m_darkTheme = false;
    int m_busyCount = 0;
    bool m_resizePending = false;
    bool m_pageAttached = false;
    std::unique_ptr<CDisplayViewArrangementSet> m_layout;
    double m_physicalDpi = 96.0;
    QPointer<CDisplayViewPage> m_currentItem;
    QPointer<CDisplayViewPage> m_altItem;
    CBounds m_pendingImportBounds;
    QTimer m_engagementTimer;
    std::unique_ptr<CrashDetector> m_crashDetector;

    int m_nextMenuId = 1;
    int m_openMenuId = 0;
    std::vector<MenuEntry> m_openMenu;
    int m_nextMessageId = 1;
    std::vector<std::pair<int, std::function<void(int)>>> m_pendingMessages;
    std::vector<std::pair<int, std::function<void(bool)>>> m_pendingPages;
    std::pair<int, std::function<void(const std::string&)>> m_pendingFile;
    class CUserGuide* m_guide = nullptr;  // child QObject, made on first use
};

// The maker's address, used by the unclean-shutdown message.
extern const char* const kSupportAddress;
