// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// Which map types the map shows (the catalogue's "show" set). `model` is the map list's
// CDlg_map_list; every tick is saved at once. Escape or Done closes.
Popup {
    id: popup

    required property CDlg_map_list model

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: parent ? Math.min(parent.width - 32, 420) : 320
    height: parent ? Math.min(parent.height - 32, column.implicitHeight + topPadding + bottomPadding) : 400
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    onOpened: types.forceActiveFocus()
    onClosed: destroy()

    ColumnLayout {
        id: column
        anchors.fill: parent
        spacing: 6

        Label {
            Layout.fillWidth: true
            text: qsTr("Map types shown")
            font.bold: true
            font.pixelSize: 18
        }
        ListView {
            id: types
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredHeight: contentHeight
            clip: true
            keyNavigationEnabled: true
            model: popup.model.mapTypes
            delegate: CheckDelegate {
                required property var modelData
                width: ListView.view.width
                height: 48
                text: modelData.charts > 0 ? qsTr("%1 (%2)").arg(modelData.name).arg(modelData.charts) : modelData.name
                checked: modelData.shown
                highlighted: ListView.isCurrentItem
                focusPolicy: Qt.NoFocus
                onToggled: popup.model.setTypeShown(modelData.name, checked)
            }
            Keys.onSpacePressed: toggleCurrent()
            Keys.onReturnPressed: toggleCurrent()
            Keys.onEnterPressed: toggleCurrent()
            function toggleCurrent() {
                if (currentIndex < 0) return
                const t = popup.model.mapTypes[currentIndex]
                popup.model.setTypeShown(t.name, !t.shown)
            }
        }
        Button {
            Layout.alignment: Qt.AlignRight
            text: qsTr("Done")
            onClicked: popup.close()
        }
    }
}
