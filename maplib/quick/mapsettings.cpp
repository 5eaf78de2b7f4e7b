// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/quick/mapsettings.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include "core/persistantdata.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/chartview.h"
#include "maplib/quick/popup.h"

namespace {
CQuickChartView::Settings& S() {
    return CQuickChartView::settings();
}
}  // namespace

CDlg_map_settings::CDlg_map_settings(QObject* parent) : QObject(parent) {}

void CDlg_map_settings::Saved() {
    S().SetChanged();
    PersistantData::SaveAll();
    Q_EMIT settingsChanged();
}

bool CDlg_map_settings::fullScreen() const {
    return S().full_screen;
}

void CDlg_map_settings::setFullScreen(bool on) {
    if (S().full_screen == on) return;
    S().full_screen = on;
    Saved();
    ::SetFullScreen(on);
}

bool CDlg_map_settings::changeScaleByZooming() const {
    return S().change_scale_by_zooming;
}

void CDlg_map_settings::setChangeScaleByZooming(bool on) {
    if (S().change_scale_by_zooming == on) return;
    S().change_scale_by_zooming = on;
    Saved();
}

bool CDlg_map_settings::showScaleBar() const {
    return S().show_scale_bar;
}

void CDlg_map_settings::setShowScaleBar(bool on) {
    if (S().show_scale_bar == on) return;
    S().show_scale_bar = on;
    Saved();
}

QColor CDlg_map_settings::scaleBarColor() const {
    const GraphicsColor& c = S().scale_bar_color;
    return QColor(c.r, c.g, c.b, c.a);
}

void CDlg_map_settings::setScaleBarColor(const QColor& colour) {
    if (!colour.isValid()) return;
    const GraphicsColor c(colour.red(), colour.green(), colour.blue(), colour.alpha());
    if (S().scale_bar_color == c) return;
    S().scale_bar_color = c;
    Saved();
}

bool CDlg_map_settings::automaticDownload() const {
    return S().automatic_download;
}

void CDlg_map_settings::setAutomaticDownload(bool on) {
    if (S().automatic_download == on) return;
    S().automatic_download = on;
    Saved();
    CQuickChartView::AutomaticDownloadChanged();
}

QObject* CDlg_map_settings::Show(const NV_HWND& hwnd) {
    auto* anchor = qobject_cast<QQuickItem*>(hwnd.item.data());
    QQmlEngine* engine = anchor ? qmlEngine(anchor) : nullptr;
    if (!engine || !anchor->window()) return nullptr;
    // The settings page is a plain item; from the item's menu it sits in a popup.
    QQmlComponent component(engine);
    component.setData(
        "import QtQuick\n"
        "import QtQuick.Controls\n"
        "Popup {\n"
        "    id: popup\n"
        "    property QtObject model\n"
        "    modal: true\n"
        "    focus: true\n"
        "    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside\n"
        "    width: parent ? Math.min(parent.width - 16, 480) : 360\n"
        "    height: parent ? Math.min(parent.height - 16, page.implicitHeight + topPadding + bottomPadding) : 400\n"
        "    x: parent ? (parent.width - width) / 2 : 0\n"
        "    y: parent ? (parent.height - height) / 2 : 0\n"
        "    onClosed: destroy()\n"
        "    MapSettings { id: page; anchors.fill: parent; model: popup.model }\n"
        "}\n",
        CDisplayViewPage::componentUrl("MapSettingsPopup.qml"));
    if (!component.isReady()) {
        qWarning().noquote() << component.errorString();
        return nullptr;
    }
    auto* model = new CDlg_map_settings();
    return OpenModelPopup(anchor, component, model);
}
