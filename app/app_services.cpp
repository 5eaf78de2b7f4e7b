// SPDX-License-Identifier: GPL-3.0-or-later
// Where the application plugs itself into the engine: the pages it can show, the files it
// opens, the maps it closes and reopens around file changes, the entries of its menus.
// Everything the engine asks of the user goes through the UI services (core/uiservices.h,
// implemented in app/quick_ui.cpp); this file fills in what those services can show.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include "app/appmodel.h"
#include "app/commandline.h"
#include "app/gpsposition_settings.h"
#include "app/overlays_ui.h"
#include "app/quick_ui.h"
#include "core/apppaths.h"
#include "core/pubsub.h"
#include "displays/displayview.h"
#include "displays/readouts.h"
#include "maplib/quick/mapitem.h"
#include "maplib/quick/mapsettings.h"
#include "navdata/ais_models.h"
#include "navdata/connection_models.h"
#include "navdata/dataconnection.h"
#include "navdata/feed_autopilot.h"
#include "navdata/gpsposition.h"
#include "online/mappackage.h"
#include "online/packagemanifest.h"
#include "overlays/gpximport.h"
#include "maplib/chartlist.h"
#include "units/unitsettingsmodel.h"
#include "units/units.h"

namespace {

// The units change from the settings page (or a link); the file is rewritten at once so
// the choice survives a crash.
class UnitsSaver : public Listener<CUnits> {
public:
    void OnUpdate(CUnits&) override { save_all_app_data(); }
};

// Charts are closed while their files change (deleted from the map list, installed by a
// package) and reopened after.
class MapReopener : public IChartReopener {
public:
    void CloseAllCharts() override { CDisplayViewQuickChart::closeAllMaps(); }
    void ReopenAllCharts() override { CDisplayViewQuickChart::reopenAllMaps(); }
};

QString ModuleFile(const char* file) {
    return QStringLiteral("qrc:/com/navora/nv/") + QLatin1String(file);
}

// A model that lives as long as the application (settings pages keep their state).
template <class Model>
std::function<QObject*()> SharedModel() {
    return []() -> QObject* {
        static QPointer<Model> model;
        if (!model) model = new Model(theApp);
        return model;
    };
}

// A model made for one showing of its page (set-up pages start from the stored settings).
template <class Model>
std::function<QObject*()> FreshModel() {
    return []() -> QObject* { return new Model(theApp); };
}

void RegisterPages() {
    // Under "Settings", in this order.
    RegisterPage({CUnits::settingsType.name, "Units", ModuleFile("UnitsSettings.qml"), SharedModel<CUnitSettingsModel>(),
                  true, false, {}});
    RegisterPage({CDlg_map_settings::kPageName, "Map Options", ModuleFile("MapSettings.qml"),
                  SharedModel<CDlg_map_settings>(), true, false, {}});
    RegisterPage({CDlg_gps_position_settings::kPageName, "GPS Position", ModuleFile("GpsPositionSettings.qml"),
                  SharedModel<CDlg_gps_position_settings>(), true, false, {}});
    RegisterPage({"GPS Connection", "GPS Connection", ModuleFile("GpsSetup.qml"),
                  []() -> QObject* {
                      static QPointer<CDlg_gps_setup> model;
                      if (!model) model = new CDlg_gps_setup(theApp);
                      model->refresh();
                      return model;
                  },
                  true, false, {}});
    // Once a ship has been heard.
    AppPage ais{CDlg_AIS_settings::kPageName, "AIS Settings", ModuleFile("AisSettings.qml"),
                SharedModel<CDlg_AIS_settings>(), true, false, {}};
    ais.offered = &CDlg_AIS_settings::Available;
    RegisterPage(std::move(ais));
    // Asked for by the engine.
    RegisterPage({"SerialSetup", "Serial", ModuleFile("SerialSetup.qml"), FreshModel<CDlg_serial_setup>(), false, true, {}});
    RegisterPage({"TcpSetup", "TCP/IP", ModuleFile("TcpSetup.qml"), FreshModel<CDlg_tcp_setup>(), false, true, {}});
    RegisterPage({"UdpSetup", "UDP/IP", ModuleFile("UdpSetup.qml"), FreshModel<CDlg_udp_setup>(), false, true, {}});
    RegisterPage({"Output rules", "Output rules", ModuleFile("OutputRules.qml"), FreshModel<CDlg_output_rules>(), false,
                  true, {}});
}

void RegisterImporters() {
    // Files handed to Navora (command line, links, a second instance, the desktop).
    RegisterImporter("qct", [](const NV_HWND&, const std::string& path, CBounds&, std::string& reason) {
        if (theApp && theApp->OpenChartInLargestMap(path)) return true;
        reason = "There is no map on your pages to show the chart in. Add a map with Edit Layout.";
        return false;
    });
    RegisterImporter("dvpage", ImportDisplayPagesFile);
    RegisterImporter("pstf", ImportDisplayPagesFile);

    // Marks, routes and tracks: GPX files (".xml" ones come here too) and older CSV files.
    auto importOverlays = [](const NV_HWND&, const std::string& path, CBounds& bounds, std::string& reason) {
        COverlayImportResult result;
        const bool ok = ImportOverlayFile(path, result);
        bounds.Add(result.bounds);
        if (ok) {
            qInfo().noquote() << QString::fromStdString(result.Summary());
            SetStatusMessage(result.Summary());
        } else
            reason = result.error;
        return ok;
    };
    RegisterImporter("gpx", importOverlays);
    RegisterImporter("csv", importOverlays);

    // A map package manifest: its charts belong in the download folder, where the catalogue
    // looks, so the manifest is copied there (the user's own copy stays where it was) and
    // installed once the user agrees.
    RegisterImporter("nvpkg", [](const NV_HWND& window, const std::string& path, CBounds&, std::string& reason) {
        const std::string name = GetPackageName(path);
        if (name.empty()) {
            reason = "This file is not a map package.";
            return false;
        }
        const std::string folder = CChartList::getKVSfolder();
        const QFileInfo source(QString::fromLocal8Bit(path.c_str()));
        const QString target = QString::fromLocal8Bit(folder.c_str()) + QLatin1Char('/') + source.fileName();
        MessageBoxYesNo(window, "Install map package",
                        "Install the map package \"" + name + "\" into your maps?",
                        [window, path, target] {
                            QDir().mkpath(QFileInfo(target).path());
                            const QString from = QFileInfo(QString::fromLocal8Bit(path.c_str())).canonicalFilePath();
                            if (from != QFileInfo(target).canonicalFilePath()) {
                                // Written beside, then renamed: a manifest already there is only
                                // replaced by a complete copy.
                                const QString tmp = target + QStringLiteral(".tmp");
                                QFile::remove(tmp);
                                if (!QFile::copy(from, tmp) || !ReplaceFile(tmp.toLocal8Bit().toStdString(), target.toLocal8Bit().toStdString())) {
                                    QFile::remove(tmp);
                                    MessageBoxOK(window, "Problem", "Could not copy the package file into " +
                                                                        target.toStdString());
                                    return;
                                }
                            }
                            InstallMapPackage(window, target.toLocal8Bit().toStdString(),
                                              [](const CPackageInstallResult& r) {
                                                  if (r.ok && GetChartReopener()) GetChartReopener()->ReopenAllCharts();
                                              });
                        });
        return true;
    });
}

}  // namespace

void CNavoraAppModel::showOutputRules() {
    ShowPage(NV_HWND(this), {"Output rules", {}});
}

// Called once, before the window exists.
void InstallAppServices() {
    static bool done = false;
    if (done) return;
    done = true;

    NReadouts::RegisterItemTypes();
    RegisterPages();
    RegisterImporters();

    // Taps, long presses and menus of marks, routes and tracks; the editors.
    static COverlaysUi overlaysUi;
    COverlaysUi::AskAboutDamagedFiles();

    static MapReopener reopener;
    SetChartReopener(&reopener);
    static UnitsSaver unitsSaver;

    // The autopilot sentence closes on the mark from where the boat is.
    CFeed_AutopilotRMB::SetPosition(&COverlayGPSPosition::theLatestPosition);
    CDlg_gps_position_settings::ApplyKeepScreenOn();

    CNavoraAppModel::extraMainMenuEntries = [] {
        std::vector<CNavoraAppModel::MenuEntry> entries;
        entries.push_back({QStringLiteral("GPS Connection"), QStringLiteral("qrc:/gps_lock.svg"), [] {
                               CDataConnection::SelectConnectionType(NV_HWND(theApp), [](bool) {});
                           }});
        return entries;
    };
}
