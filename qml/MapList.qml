// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The map list: the charts of the catalogue by map type and folder. Tap (or Enter) opens
// a chart in the map, the bin deletes one after a question, the sort box orders them and
// "Map types" chooses which types the map shows. Escape closes. `model` is a
// CDlg_map_list; the popup deletes itself when closed.
Popup {
    id: popup

    required property CDlg_map_list model

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
        function onChartOpened(path) { popup.close() }
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
            ToolButton {
                text: "\u2715"
                Accessible.name: qsTr("Close")
                focusPolicy: Qt.NoFocus
                onClicked: popup.close()
            }
        }

        // Sort order and type choice wrap below each other on a narrow screen.
        Flow {
            Layout.fillWidth: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            spacing: 8
            ComboBox {
                id: sortBox
                width: 150
                model: popup.model.sortChoices
                currentIndex: popup.model.sortOrder
                focusPolicy: Qt.TabFocus
                Accessible.name: qsTr("Sort by")
                onActivated: function (index) { popup.model.sortOrder = index }
            }
            CheckBox {
                text: qsTr("Reverse")
                checked: popup.model.reverseSort
                focusPolicy: Qt.TabFocus
                onToggled: popup.model.reverseSort = checked
            }
            Button {
                text: qsTr("Map types\u2026")
                focusPolicy: Qt.TabFocus
                onClicked: popup.showTypes()
            }
        }

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.topMargin: 6
            clip: true
            model: popup.model.rows
            keyNavigationEnabled: true
            highlightMoveDuration: 0
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}

            // Headers are not stops for the keyboard.
            function step(dir) {
                let i = currentIndex + dir
                while (i >= 0 && i < count && popup.model.rows[i].kind !== 2)
                    i += dir
                if (i >= 0 && i < count)
                    currentIndex = i
            }
            Keys.onUpPressed: step(-1)
            Keys.onDownPressed: step(1)
            Keys.onReturnPressed: popup.model.openRow(currentIndex)
            Keys.onEnterPressed: popup.model.openRow(currentIndex)
            Keys.onDeletePressed: popup.model.deleteRow(currentIndex)
            Component.onCompleted: step(1)

            // One row: a map type heading, a folder heading or a chart.
            delegate: Item {
                id: rowItem
                required property var modelData
                required property int index
                readonly property int kind: modelData.kind
                width: ListView.view.width
                height: kind === 0 ? 36 : (kind === 1 ? 28 : 52)

                Rectangle {
                    anchors.fill: parent
                    visible: rowItem.kind === 0
                    color: palette.alternateBase
                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        x: 12
                        width: parent.width - 24
                        elide: Text.ElideRight
                        font.bold: true
                        text: rowItem.modelData.shown ? rowItem.modelData.text
                                                      : qsTr("%1 (not shown on the map)").arg(rowItem.modelData.text)
                    }
                }
                Label {
                    visible: rowItem.kind === 1
                    anchors.verticalCenter: parent.verticalCenter
                    x: 20
                    text: rowItem.modelData.text
                    opacity: 0.7
                    font.italic: true
                }
                ItemDelegate {
                    anchors.fill: parent
                    visible: rowItem.kind === 2
                    highlighted: list.currentIndex === rowItem.index
                    opacity: rowItem.modelData.shown ? 1.0 : 0.6
                    focusPolicy: Qt.NoFocus
                    onClicked: popup.model.openRow(rowItem.index)
                    contentItem: RowLayout {
                        spacing: 8
                        ColumnLayout {
                            Layout.fillWidth: true
                            Layout.leftMargin: 16
                            spacing: 0
                            Label {
                                Layout.fillWidth: true
                                text: rowItem.modelData.text
                                elide: Text.ElideRight
                            }
                            Label {
                                Layout.fillWidth: true
                                text: rowItem.modelData.scaleText
                                opacity: 0.7
                                font.pixelSize: 12
                                elide: Text.ElideRight
                            }
                        }
                        ToolButton {
                            visible: rowItem.modelData.folder !== "Built-in"
                            text: qsTr("Delete")
                            font.pixelSize: 12
                            Layout.rightMargin: 4
                            Accessible.name: qsTr("Delete %1").arg(rowItem.modelData.text)
                            focusPolicy: Qt.NoFocus
                            onClicked: popup.model.deleteRow(rowItem.index)
                        }
                    }
                }
            }
        }

        Label {
            Layout.fillWidth: true
            Layout.margins: 16
            visible: list.count === 0
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("No maps are installed.")
        }
    }

    function showTypes() {
        const component = Qt.createComponent("MapTypes.qml")
        if (component.status !== Component.Ready) {
            console.warn(component.errorString())
            return
        }
        const types = component.createObject(popup.parent, { model: popup.model }) as Popup
        if (types) types.open()
    }
}
