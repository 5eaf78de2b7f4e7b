// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls

// Shown in the page area until display pages are set up.
Rectangle {
    id: pane
    property bool dark: false
    property string version
    gradient: Gradient {
        GradientStop { position: 0.0; color: pane.dark ? "#10263a" : "#cfe6f5" }
        GradientStop { position: 1.0; color: pane.dark ? "#07131d" : "#9ccbe8" }
    }
    Column {
        anchors.centerIn: parent
        spacing: 12
        width: Math.min(parent.width - 32, 520)
        Image {
            source: "qrc:/appicon.png"
            width: 96; height: 96
            anchors.horizontalCenter: parent.horizontalCenter
        }
        Label {
            text: "Navora"
            font.pixelSize: 40
            font.bold: true
            color: pane.dark ? "#e8eaed" : "#0b3d5c"
            anchors.horizontalCenter: parent.horizontalCenter
        }
        Label {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: qsTr("Version %1").arg(pane.version)
            color: pane.dark ? "#b0bec5" : "#27536e"
        }
    }
}
