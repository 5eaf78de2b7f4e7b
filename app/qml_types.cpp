// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDebug>
#include <QQmlEngine>
#include <QPointer>
#include <QQuickItem>

#include "app/appmodel.h"
#include "app/commandline.h"
#include "app/gpsposition_settings.h"
#include "core/pubsub.h"
#include "displays/quick/adaptors.h"
#include "displays/readouts.h"
#include "maplib/chartlist.h"
#include "maplib/quick/mapitem.h"
#include "maplib/quick/mapsettings.h"
#include "navdata/connection_models.h"
#include "overlays/gpximport.h"
#include "units/unitsettingsmodel.h"
#include "units/units.h"

void InstallUserInterfaceHooks();

namespace {

// The units change from the settings page (or a link); the file is rewritten at once so
// the choice survives a crash.
class UnitsSaver : public Listener<CUnits> {
public:
    void OnUpdate(CUnits&) override { save_all_app_data(); }
};

}  // namespace

// Every type of the user interface's module, com.navora.nv 1.0, under its class name,
// and the settings pages of the subsystems that have one.
void RegisterQmlTypes() {
    static bool done = false;
    if (done) return;
    done = true;
    NReadouts::RegisterItemTypes();
    InstallUserInterfaceHooks();
    CDisplayViewQuickChart::onLockScreen = [] {
        if (theApp) Q_EMIT theApp->screenLocked();
    };

    static UnitsSaver unitsSaver;
    RegisterSettingsPage({CUnits::settingsType.name, QStringLiteral("qrc:/com/navora/nv/UnitsSettings.qml"), [] {
                              static CUnitSettingsModel* model = new CUnitSettingsModel(theApp);
                              return model;
                          }});
    RegisterSettingsPage({CDlg_map_settings::kPageName, QStringLiteral("qrc:/com/navora/nv/MapSettings.qml"), []() -> QObject* {
                              static QPointer<CDlg_map_settings> model;
                              if (!model) model = new CDlg_map_settings(theApp);
                              return model;
                          }});
    CDlg_map_settings::fullScreenChanged = [](bool on) {
        if (theApp) theApp->setFullScreen(on);
    };
    // Files handed to Navora (command line, links, a second instance, the desktop).
    RegisterImporter("qct", [](const NV_HWND&, const std::string& path, CBounds&, std::string& reason) {
        if (theApp && theApp->OpenChartInLargestMap(path)) return true;
        reason = "There is no map on your pages to show the chart in. Add a map with Edit Layout.";
        return false;
    });
    CDisplayViewArrangementSet::showEditingHelp = [] {
        if (theApp) theApp->showHelpForTag(QStringLiteral("layout"));
    };
    // Marks, routes and tracks: GPX files (".xml" ones come here too) and legacy CSV files.
    auto importOverlays = [](const NV_HWND&, const std::string& path, CBounds& bounds, std::string& reason) {
        COverlayImportResult result;
        const bool ok = ImportOverlayFile(path, result);
        bounds.Add(result.bounds);
        if (ok) {
            qInfo().noquote() << QString::fromStdString(result.Summary());
            SetStatusMessage(result.Summary());
        } else {
            reason = result.error;
        }
        return ok;
    };
    RegisterImporter("gpx", importOverlays);
    RegisterImporter("csv", importOverlays);
    RegisterImporter("dvpage", ImportDisplayPagesFile);
    RegisterImporter("pstf", ImportDisplayPagesFile);
    CChartList::hooks().closeAllMapsPendingDownload = [] { CDisplayViewQuickChart::closeAllMaps(); };
    CChartList::hooks().reopenMaps = [] { CDisplayViewQuickChart::reopenAllMaps(); };
    RegisterSettingsPage({CDlg_gps_position_settings::kPageName, QStringLiteral("qrc:/com/navora/nv/GpsPositionSettings.qml"),
                          []() -> QObject* {
                              static QPointer<CDlg_gps_position_settings> model;
                              if (!model) model = new CDlg_gps_position_settings(theApp);
                              return model;
                          }});
    CDlg_gps_position_settings::ApplyKeepScreenOn();
    RegisterSettingsPage({"GPS Connection", QStringLiteral("qrc:/com/navora/nv/GpsSetup.qml"), []() -> QObject* {
                              static QPointer<CDlg_gps_setup> model;
                              if (!model) model = new CDlg_gps_setup(theApp);
                              model->refresh();
                              return model;
                          }});
}
