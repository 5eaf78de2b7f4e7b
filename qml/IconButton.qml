// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
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
}
