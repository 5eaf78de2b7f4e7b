// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Hosts one settings page (a QML file with a `model` property).
Popup {
    id: popup
    property alias title: heading.text
    property var pageModel: null

    function show(t, file, m) {
        title = t
        pageModel = m
        loader.source = file
        open()
    }

    parent: Overlay.overlay
    modal: true
    focus: true
    anchors.centerIn: parent
    width: Math.min(parent.width - 16, 560)
    height: Math.min(parent.height - 16, 640)
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    background: Rectangle { color: palette.window; radius: 10 }

    ColumnLayout {
        anchors.fill: parent
        Label {
            id: heading
            font.bold: true
            font.pixelSize: 18
            Layout.fillWidth: true
        }
        Loader {
            id: loader
            Layout.fillWidth: true
            Layout.fillHeight: true
            onLoaded: if (item && item.hasOwnProperty("model")) item.model = popup.pageModel
        }
        Button {
            text: qsTr("Close")
            Layout.alignment: Qt.AlignRight
            onClicked: popup.close()
        }
    }
    onClosed: loader.source = ""
}
