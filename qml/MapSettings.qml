// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The "Map Options" settings page. The application sets `model` to a CDlg_map_settings;
// every change is saved at once.
Item {
    id: root

    required property CDlg_map_settings model
    readonly property string title: model ? model.title : qsTr("Map Options")

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    // Scale bar colours offered (with the alpha the bar is drawn with).
    readonly property var colours: ["#A0FFBB33", "#C0FF0000", "#C0000000", "#C00060FF", "#C000A040", "#C0FFFFFF"]

    Flickable {
        anchors.fill: parent
        contentHeight: column.implicitHeight + 24
        clip: true
        boundsBehavior: Flickable.StopAtBounds

        ColumnLayout {
            id: column
            x: 12
            y: 12
            width: parent.width - 24
            spacing: 4

            Switch {
                Layout.fillWidth: true
                text: qsTr("Full screen")
                checked: root.model.fullScreen
                focus: true
                onToggled: root.model.fullScreen = checked
            }
            Switch {
                Layout.fillWidth: true
                text: qsTr("Change map when zooming")
                checked: root.model.changeScaleByZooming
                onToggled: root.model.changeScaleByZooming = checked
            }
            Switch {
                Layout.fillWidth: true
                text: qsTr("Automatic download of map data")
                checked: root.model.automaticDownload
                onToggled: root.model.automaticDownload = checked
            }
            Switch {
                id: scaleBarSwitch
                Layout.fillWidth: true
                text: qsTr("Show scale bar")
                checked: root.model.showScaleBar
                onToggled: root.model.showScaleBar = checked
            }
            Label {
                text: qsTr("Scale bar colour")
                enabled: scaleBarSwitch.checked
                Layout.topMargin: 6
            }
            Flow {
                Layout.fillWidth: true
                spacing: 8
                enabled: scaleBarSwitch.checked
                opacity: enabled ? 1.0 : 0.4
                Repeater {
                    model: root.colours
                    delegate: AbstractButton {
                        id: swatch
                        required property string modelData
                        required property int index
                        width: 40
                        height: 40
                        focusPolicy: Qt.StrongFocus
                        Accessible.name: qsTr("Colour %1").arg(swatch.index + 1)
                        readonly property bool current: root.model
                                                        && Qt.colorEqual(root.model.scaleBarColor, swatch.modelData)
                        background: Rectangle {
                            radius: 6
                            color: swatch.modelData
                            border.width: swatch.current || swatch.activeFocus ? 3 : 1
                            border.color: swatch.current ? palette.highlight : palette.mid
                        }
                        onClicked: root.model.scaleBarColor = swatch.modelData
                        Keys.onReturnPressed: clicked()
                    }
                }
            }
        }
    }
}
