// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The main buttons. A button whose feature has nothing to act on is hidden, not disabled.
Pane {
    id: bar
    property int buttonSize: 52
    required property CNavoraAppModel model
    padding: 6
    background: Rectangle { color: "#e6202830" }

    RowLayout {
        anchors.fill: parent
        spacing: 6

        IconButton {
            id: menuButton
            icon.source: "qrc:/menu.svg"
            size: bar.buttonSize
            tip: qsTr("Main Menu")
            onClicked: bar.model.onMenuButtonClicked(menuButton)
        }
        IconButton {
            id: overlaysButton
            visible: bar.model.hasOverlaysMenu
            icon.source: "qrc:/overlays.svg"
            size: bar.buttonSize
            tip: qsTr("Overlays")
            onClicked: bar.model.onOverlaysButtonClicked(overlaysButton)
        }
        IconButton {
            id: pagesButton
            icon.source: "qrc:/pages.svg"
            size: bar.buttonSize
            tip: qsTr("Pages")
            onClicked: bar.model.onPagesButton(pagesButton)
        }
        Item { Layout.fillWidth: true }
        IconButton {
            visible: bar.model.hasMapItem
            icon.source: "qrc:/minus.svg"
            size: bar.buttonSize
            tip: qsTr("Zoom out")
            onClicked: bar.model.onPressMinusButton()
            onPressAndHold: bar.model.onLongPressMinusButton()
        }
        IconButton {
            visible: bar.model.hasMapItem
            icon.source: "qrc:/plus.svg"
            size: bar.buttonSize
            tip: qsTr("Zoom in")
            onClicked: bar.model.onPressPlusButton()
            onPressAndHold: bar.model.onLongPressPlusButton()
        }
        IconButton {
            visible: bar.model.hasMapItem
            icon.source: "qrc:/gps_lock.svg"
            size: bar.buttonSize
            tip: qsTr("Follow position")
            onClicked: bar.model.onPressUserButton()
            // Holding drops a mark at the boat once marks exist; until then it just follows.
            onPressAndHold: bar.model.canAddMarks ? bar.model.onLongPressUserButton() : bar.model.onPressUserButton()
        }
    }
}
