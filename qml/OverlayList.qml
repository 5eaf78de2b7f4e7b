// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The overlay list: marks, routes and tracks under their headings. A tap centres the map
// on the object, the check box shows or hides it, the "⋮" button opens its menu (go to,
// follow, edit, export, delete). Rows ticked on the left can be exported together.
// `model` is a COverlayListModel; the popup deletes itself when closed.
Popup {
    id: popup

    required property COverlayListModel model

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: parent ? Math.min(parent.width - 16, 560) : 360
    height: parent ? Math.min(parent.height - 16, 720) : 480
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    padding: 0
    onOpened: list.forceActiveFocus()
    onClosed: destroy()

    Connections {
        target: popup.model
        function onCloseRequested() { popup.close() }
    }

    background: Rectangle {
        color: palette.window
        radius: 10
        border.color: palette.mid
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 8
            spacing: 8
            Label {
                text: popup.model.title
                font.bold: true
                font.pixelSize: 18
                Layout.fillWidth: true
                elide: Text.ElideRight
            }
            Button {
                visible: popup.model.selectedCount > 0
                text: qsTr("Export selected")
                focusPolicy: Qt.NoFocus
                onClicked: popup.model.exportSelected()
            }
            ToolButton {
                text: "\u2715"
                Accessible.name: qsTr("Close")
                focusPolicy: Qt.NoFocus
                onClicked: popup.close()
            }
        }

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: popup.model.rows
            // No row is marked until the keyboard is used.
            property bool keyboardUsed: false
            keyNavigationEnabled: true
            highlightMoveDuration: 0
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Keys.onPressed: (event) => { keyboardUsed = true; event.accepted = false }
            Keys.onReturnPressed: popup.model.showOnMap(currentIndex)
            Keys.onEnterPressed: popup.model.showOnMap(currentIndex)
            Keys.onMenuPressed: popup.model.showMenu(currentIndex)

            delegate: ColumnLayout {
                id: rowItem
                required property var modelData
                required property int index
                // A heading starts each section.
                readonly property bool firstOfSection: index === 0
                    || popup.model.rows[index - 1].section !== modelData.section
                width: ListView.view.width
                spacing: 0

                Rectangle {
                    visible: rowItem.firstOfSection
                    Layout.fillWidth: true
                    Layout.preferredHeight: 34
                    color: palette.alternateBase
                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        x: 12
                        font.bold: true
                        text: rowItem.modelData.section
                    }
                }
                ItemDelegate {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 54
                    highlighted: list.keyboardUsed && list.currentIndex === rowItem.index
                    opacity: rowItem.modelData.visible ? 1.0 : 0.55
                    focusPolicy: Qt.NoFocus
                    onClicked: popup.model.showOnMap(rowItem.index)
                    onPressAndHold: popup.model.showMenu(rowItem.index)
                    contentItem: RowLayout {
                        spacing: 8
                        CheckBox {
                            checked: rowItem.modelData.selected
                            focusPolicy: Qt.NoFocus
                            Accessible.name: qsTr("Select %1").arg(rowItem.modelData.name)
                            onToggled: popup.model.setSelected(rowItem.index, checked)
                        }
                        // The mark's icon, or a stroke of the line's colour.
                        Item {
                            Layout.preferredWidth: 28
                            Layout.preferredHeight: 28
                            Image {
                                anchors.fill: parent
                                visible: rowItem.modelData.icon.length > 0
                                source: rowItem.modelData.icon
                                sourceSize.width: 28
                                sourceSize.height: 28
                                fillMode: Image.PreserveAspectFit
                            }
                            Rectangle {
                                visible: rowItem.modelData.icon.length === 0
                                anchors.centerIn: parent
                                width: 26
                                height: 5
                                radius: 2
                                color: rowItem.modelData.color
                            }
                        }
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 0
                            Label {
                                Layout.fillWidth: true
                                text: rowItem.modelData.active ? rowItem.modelData.name + "  \u25B6" : rowItem.modelData.name
                                font.bold: rowItem.modelData.active
                                elide: Text.ElideRight
                            }
                            Label {
                                Layout.fillWidth: true
                                text: rowItem.modelData.detail
                                opacity: 0.7
                                font.pixelSize: 12
                                elide: Text.ElideRight
                            }
                        }
                        Switch {
                            checked: rowItem.modelData.visible
                            focusPolicy: Qt.NoFocus
                            Accessible.name: qsTr("Show %1 on the map").arg(rowItem.modelData.name)
                            onToggled: popup.model.setVisible(rowItem.index, checked)
                        }
                        ToolButton {
                            text: "\u22EE"
                            font.pixelSize: 20
                            focusPolicy: Qt.NoFocus
                            Accessible.name: qsTr("Menu of %1").arg(rowItem.modelData.name)
                            onClicked: popup.model.showMenu(rowItem.index)
                        }
                    }
                }
            }
        }

        Label {
            Layout.fillWidth: true
            Layout.fillHeight: list.count === 0
            Layout.margins: 16
            visible: list.count === 0
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("No marks, routes or tracks yet. Add them from the Overlays menu, or import a GPX file.")
        }
    }
}
