// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The AIS targets in range, the most dangerous first. Tapping a row (or Enter) selects
// the target and centres the map on it. Escape closes. `model` is a CAisTargetList; the
// popup deletes itself when closed.
Popup {
    id: popup

    required property CAisTargetList model

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

    background: Rectangle {
        color: palette.window
        radius: 10
        border.color: palette.mid
    }

    function choose(row: int) {
        popup.model.activate(row)
        popup.close()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 8
            spacing: 8
            Label {
                text: qsTr("AIS Targets (%1)").arg(popup.model.count)
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

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: popup.model
            keyNavigationEnabled: true
            highlightMoveDuration: 0
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Keys.onReturnPressed: popup.choose(currentIndex)
            Keys.onEnterPressed: popup.choose(currentIndex)

            delegate: ItemDelegate {
                id: row
                required property int index
                required property string name
                required property string mmsi
                required property string kind
                required property string range
                required property string bearing
                required property string cpa
                required property string tcpa
                required property color colour
                required property bool alerting

                width: ListView.view.width
                highlighted: list.currentIndex === row.index
                focusPolicy: Qt.NoFocus
                onClicked: popup.choose(row.index)
                Accessible.name: (row.name.length > 0 ? row.name : row.mmsi) + ", " + row.kind

                contentItem: RowLayout {
                    spacing: 10
                    Rectangle {
                        Layout.preferredWidth: 14
                        Layout.preferredHeight: 14
                        radius: 3
                        color: row.colour
                        border.color: row.alerting ? "black" : palette.mid
                        border.width: row.alerting ? 2 : 1
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 0
                        Label {
                            Layout.fillWidth: true
                            text: row.name.length > 0 ? row.name : qsTr("MMSI %1").arg(row.mmsi)
                            font.bold: row.alerting
                            elide: Text.ElideRight
                        }
                        Label {
                            Layout.fillWidth: true
                            text: row.name.length > 0 ? row.kind + " \u00b7 " + row.mmsi : row.kind
                            opacity: 0.7
                            font.pixelSize: 12
                            elide: Text.ElideRight
                        }
                    }
                    ColumnLayout {
                        spacing: 0
                        Label {
                            Layout.alignment: Qt.AlignRight
                            text: row.range.length > 0 ? row.range + "  " + row.bearing : ""
                        }
                        Label {
                            Layout.alignment: Qt.AlignRight
                            visible: row.cpa.length > 0
                            text: qsTr("CPA %1 in %2").arg(row.cpa).arg(row.tcpa)
                            opacity: 0.7
                            font.pixelSize: 12
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
            text: qsTr("No AIS targets in range.")
        }
    }
}
