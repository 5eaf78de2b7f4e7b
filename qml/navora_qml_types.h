// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every C++ type the user interface uses, declared once for the com.navora.nv module. The
// types live in the libraries that compute them (which know nothing of QML); this header
// is where the QML side names them. A type the interface creates is an element; models
// that the application hands to a page are uncreatable there.

#include <QtQml/qqmlregistration.h>

#include "app/appmodel.h"
#include "app/gpsposition_settings.h"
#include "app/overlay_list_model.h"
#include "app/overlays_ui.h"
#include "app/userguide.h"
#include "displays/quick/adaptors.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/quick/mapitem.h"
#include "maplib/quick/maplist.h"
#include "maplib/quick/mappainters.h"
#include "maplib/quick/mapsettings.h"
#include "navdata/ais_models.h"
#include "navdata/connection_models.h"
#include "units/unitsettingsmodel.h"

// The application, its pages and the map.
struct CNavoraAppModel_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CNavoraAppModel)
    QML_NAMED_ELEMENT(CNavoraAppModel)
};
struct CDisplayViewPage_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDisplayViewPage)
    QML_NAMED_ELEMENT(CDisplayViewPage)
};
struct CViewAdaptor_q_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CViewAdaptor_q)
    QML_NAMED_ELEMENT(CViewAdaptor_q)
};
struct CPaintAdaptor_q_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CPaintAdaptor_q)
    QML_NAMED_ELEMENT(CPaintAdaptor_q)
};
struct CTextViewAdaptor_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CTextViewAdaptor)
    QML_NAMED_ELEMENT(CTextViewAdaptor)
};
struct CButtonAdaptor_q_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CButtonAdaptor_q)
    QML_NAMED_ELEMENT(CButtonAdaptor_q)
};
struct CDVI_QuickChart_Window_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDVI_QuickChart_Window)
    QML_NAMED_ELEMENT(CDVI_QuickChart_Window)
};
struct MapImagePainter_QmlForeign {
    Q_GADGET
    QML_FOREIGN(MapImagePainter)
    QML_NAMED_ELEMENT(MapImagePainter)
};
struct MapImagePainter2_QmlForeign {
    Q_GADGET
    QML_FOREIGN(MapImagePainter2)
    QML_NAMED_ELEMENT(MapImagePainter2)
};
struct OverlayPainter_QmlForeign {
    Q_GADGET
    QML_FOREIGN(OverlayPainter)
    QML_NAMED_ELEMENT(OverlayPainter)
};

// Models of dialogs and settings pages.
struct CDlg_map_list_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_map_list)
    QML_NAMED_ELEMENT(CDlg_map_list)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_map_settings_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_map_settings)
    QML_NAMED_ELEMENT(CDlg_map_settings)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_gps_setup_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_gps_setup)
    QML_NAMED_ELEMENT(CDlg_gps_setup)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_serial_setup_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_serial_setup)
    QML_NAMED_ELEMENT(CDlg_serial_setup)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_tcp_setup_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_tcp_setup)
    QML_NAMED_ELEMENT(CDlg_tcp_setup)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_udp_setup_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_udp_setup)
    QML_NAMED_ELEMENT(CDlg_udp_setup)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_output_rules_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_output_rules)
    QML_NAMED_ELEMENT(CDlg_output_rules)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CUnitSettingsModel_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CUnitSettingsModel)
    QML_NAMED_ELEMENT(CUnitSettingsModel)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_gps_position_settings_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_gps_position_settings)
    QML_NAMED_ELEMENT(CDlg_gps_position_settings)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CUserGuide_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CUserGuide)
    QML_NAMED_ELEMENT(CUserGuide)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CDlg_AIS_settings_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CDlg_AIS_settings)
    QML_NAMED_ELEMENT(CDlg_AIS_settings)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CAisTargetList_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CAisTargetList)
    QML_NAMED_ELEMENT(CAisTargetList)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct COverlayListModel_QmlForeign {
    Q_GADGET
    QML_FOREIGN(COverlayListModel)
    QML_NAMED_ELEMENT(COverlayListModel)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct COverlayEditModel_QmlForeign {
    Q_GADGET
    QML_FOREIGN(COverlayEditModel)
    QML_NAMED_ELEMENT(COverlayEditModel)
    QML_UNCREATABLE("Made by the application for its page.")
};
struct CTextPageModel_QmlForeign {
    Q_GADGET
    QML_FOREIGN(CTextPageModel)
    QML_NAMED_ELEMENT(CTextPageModel)
    QML_UNCREATABLE("Made by the application for its page.")
};
