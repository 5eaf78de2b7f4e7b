// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls

ToolButton {
    id: b
    property int size: 52
    property string tip
    implicitWidth: size
    implicitHeight: size
    icon.width: size * 0.6
    icon.height: size * 0.6
    icon.color: "white"
    focusPolicy: Qt.StrongFocus
    Accessible.name: tip
    ToolTip.visible: hovered && tip.length > 0
    ToolTip.text: tip
    ToolTip.delay: 600
    // The bar is dark: the default light hover plate would hide the white icon.
    background: Rectangle {
        radius: 8
        color: b.down ? "#55ffffff" : (b.hovered || b.visualFocus ? "#2effffff" : "transparent")
        border.width: b.visualFocus ? 2 : 0
        border.color: "#aaffffff"
    }
}
