// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import com.navora.nv

// A button on a display page: an icon, a label, or both.
CButtonAdaptor_q {
    id: root
    opacity: root.buttonEnabled ? 1.0 : 0.4

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: area.pressed ? palette.mid : palette.button
        border.color: palette.mid
        border.width: 1
    }

    Column {
        anchors.centerIn: parent
        spacing: 2
        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.icon.length > 0
            source: root.icon.length > 0 ? (root.icon.indexOf(":") >= 0 ? root.icon : "qrc:/" + root.icon) : ""
            sourceSize.width: root.iconSize
            sourceSize.height: root.iconSize
            width: Math.min(root.iconSize, root.width - 4)
            height: width
            fillMode: Image.PreserveAspectFit
        }
        Text {
            id: label
            anchors.horizontalCenter: parent.horizontalCenter
            // A label that does not fit beside an icon is left out rather than cut to "…".
            visible: root.label.length > 0 && (root.icon.length === 0 || implicitWidth <= root.width - 4)
            text: root.label
            color: root.labelColor
            font.pixelSize: Math.max(10, Math.min(18, root.height * 0.3))
            width: Math.min(implicitWidth, root.width - 4)
            elide: Text.ElideRight
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        enabled: root.buttonEnabled
        onClicked: root.clicked()
    }

    Accessible.role: Accessible.Button
    Accessible.name: root.label
    ToolTip.visible: area.containsMouse && !label.visible && root.label.length > 0
    ToolTip.text: root.label
    ToolTip.delay: 600
}
