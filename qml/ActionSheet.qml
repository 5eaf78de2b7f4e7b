// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// A menu as a sheet rising from the bottom edge: large rows for touch, arrow keys and
// Enter for the keyboard, Escape or a tap outside to cancel.
Popup {
    id: sheet
    signal chosen(int menuId, int index)
    property int menuId: 0
    property alias title: titleLabel.text
    property var entries: []

    function show(id, t, list) {
        menuId = id
        title = t
        entries = list
        open()
        listView.currentIndex = 0
        listView.forceActiveFocus()
    }

    parent: Overlay.overlay
    modal: true
    focus: true
    width: Math.min(parent.width, 480)
    x: (parent.width - width) / 2
    y: parent.height - height
    height: Math.min(parent.height * 0.8, column.implicitHeight + topPadding + bottomPadding)
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    padding: 0
    background: Rectangle { color: palette.window; radius: 10 }

    ColumnLayout {
        id: column
        anchors.fill: parent
        spacing: 0
        Label {
            id: titleLabel
            Layout.fillWidth: true
            padding: 14
            font.bold: true
            font.pixelSize: 18
            horizontalAlignment: Text.AlignHCenter
        }
        ListView {
            id: listView
            Layout.fillWidth: true
            Layout.preferredHeight: contentHeight
            Layout.fillHeight: true
            clip: true
            model: sheet.entries
            keyNavigationEnabled: true
            delegate: ItemDelegate {
                required property var modelData
                required property int index
                width: ListView.view.width
                height: 52
                text: modelData.text
                icon.source: modelData.icon
                icon.width: 28
                icon.height: 28
                highlighted: ListView.isCurrentItem
                onClicked: sheet.pick(this.index)
            }
            Keys.onReturnPressed: sheet.pick(currentIndex)
            Keys.onEnterPressed: sheet.pick(currentIndex)
        }
        Button {
            Layout.fillWidth: true
            Layout.margins: 8
            text: qsTr("Cancel")
            onClicked: sheet.close()
        }
    }

    function pick(index) {
        const id = menuId
        close()
        chosen(id, index)
    }
}
