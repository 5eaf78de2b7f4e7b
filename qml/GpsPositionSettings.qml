// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The "GPS Position" settings page. The application sets `model` to a
// CDlg_gps_position_settings; every change is applied and saved at once.
Item {
    id: root
    required property CDlg_gps_position_settings model

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    readonly property var colours: ["#DC0000", "#FF7A00", "#E0C000", "#00A040", "#0060FF", "#8000C0", "#000000", "#FFFFFF"]
    readonly property var headings: ["0°", "30°", "60°", "90°", "120°", "150°", "180°", "210°", "240°", "270°", "300°", "330°"]

    ColumnLayout {
        id: column
        x: 12
        y: 12
        // Room on the right for the page's scroll bar.
        width: parent.width - 36
        spacing: 6

        Label { text: qsTr("Velocity vector"); font.bold: true }
        Switch {
            id: vectorSwitch
            text: qsTr("Show the line ahead of the boat")
            checked: root.model.showVector
            onToggled: root.model.showVector = checked
        }
        RowLayout {
            Layout.fillWidth: true
            enabled: vectorSwitch.checked
            Label { text: qsTr("Length (minutes of travel)"); Layout.fillWidth: true }
            SpinBox {
                from: 1; to: 120
                value: Math.round(root.model.vectorMinutes)
                editable: true
                onValueModified: root.model.vectorMinutes = value
                Accessible.name: qsTr("Vector length in minutes")
            }
        }
        Switch {
            text: qsTr("Show the compass heading")
            checked: root.model.showHeading
            onToggled: root.model.showHeading = checked
        }

        Label { text: qsTr("Averages"); font.bold: true; Layout.topMargin: 8 }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Averaging time (seconds)"); Layout.fillWidth: true }
            SpinBox {
                from: 5; to: 3600; stepSize: 5
                value: Math.round(root.model.averagingSeconds)
                editable: true
                onValueModified: root.model.averagingSeconds = value
                Accessible.name: qsTr("Averaging time in seconds")
            }
        }

        Label { text: qsTr("Range rings"); font.bold: true; Layout.topMargin: 8 }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Number of rings"); Layout.fillWidth: true }
            SpinBox {
                id: ringCount
                from: 0; to: 10
                value: root.model.rangeRings
                onValueModified: root.model.rangeRings = value
                Accessible.name: qsTr("Number of range rings")
            }
        }
        RowLayout {
            Layout.fillWidth: true
            enabled: ringCount.value > 0
            Label { text: qsTr("Spacing"); Layout.fillWidth: true }
            ComboBox {
                model: root.model.ringRadiusChoices
                currentIndex: root.model.ringRadiusIndex
                onActivated: (index) => { root.model.ringRadiusIndex = index }
                Accessible.name: qsTr("Range ring spacing")
            }
        }

        Label { text: qsTr("Compass"); font.bold: true; Layout.topMargin: 8 }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Heading damping (seconds)"); Layout.fillWidth: true }
            SpinBox {
                from: 0; to: 30
                value: Math.round(root.model.headingDamping)
                onValueModified: root.model.headingDamping = value
                Accessible.name: qsTr("Heading damping in seconds")
            }
        }
        Label {
            text: qsTr("Calibration: degrees added to the compass heading")
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        GridLayout {
            columns: 3
            Layout.fillWidth: true
            Repeater {
                model: 12
                delegate: RowLayout {
                    id: correction
                    required property int index
                    Label { text: root.headings[correction.index]; Layout.preferredWidth: 36 }
                    SpinBox {
                        from: -45; to: 45
                        value: Math.round(root.model.compassCorrections[correction.index])
                        editable: true
                        Layout.preferredWidth: 110
                        onValueModified: root.model.setCompassCorrection(correction.index, value)
                        Accessible.name: qsTr("Correction at %1").arg(root.headings[correction.index])
                    }
                }
            }
        }

        Label { text: qsTr("Boat icon colour"); font.bold: true; Layout.topMargin: 8 }
        Flow {
            Layout.fillWidth: true
            spacing: 8
            Repeater {
                model: root.colours
                delegate: AbstractButton {
                    id: swatch
                    required property string modelData
                    required property int index
                    width: 36
                    height: 36
                    focusPolicy: Qt.StrongFocus
                    Accessible.name: qsTr("Colour %1").arg(swatch.index + 1)
                    readonly property bool current: Qt.colorEqual(root.model.iconColour, swatch.modelData)
                    background: Rectangle {
                        radius: 6
                        color: swatch.modelData
                        border.width: swatch.current || swatch.activeFocus ? 3 : 1
                        border.color: swatch.current ? palette.highlight : palette.mid
                    }
                    onClicked: root.model.iconColour = swatch.modelData
                    Keys.onReturnPressed: clicked()
                }
            }
        }

        Label { text: qsTr("Altitude"); font.bold: true; Layout.topMargin: 8 }
        ComboBox {
            Layout.fillWidth: true
            model: root.model.altitudeChoices
            currentIndex: root.model.altitudeIndex
            onActivated: (index) => { root.model.altitudeIndex = index }
            Accessible.name: qsTr("Altitude source")
        }

        Switch {
            Layout.topMargin: 8
            text: qsTr("Keep the screen on")
            checked: root.model.keepScreenOn
            onToggled: root.model.keepScreenOn = checked
        }
    }
}
