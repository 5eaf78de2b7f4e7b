// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls

// Swallows every touch so that spray or a sleeve cannot change anything; a long press on
// the lock button unlocks.
Item {
    id: lockItem
    visible: false
    function lock() { visible = true }

    MouseArea { anchors.fill: parent; acceptedButtons: Qt.AllButtons; onWheel: (w) => w.accepted = true }
    Rectangle { anchors.fill: parent; color: "#33000000" }
    RoundButton {
        anchors.centerIn: parent
        width: 96; height: 96
        icon.source: "qrc:/locked.svg"
        icon.width: 48; icon.height: 48
        ToolTip.visible: hovered
        ToolTip.text: qsTr("Press and hold to unlock")
        onPressAndHold: lockItem.visible = false
        Keys.onReturnPressed: lockItem.visible = false
    }
}
