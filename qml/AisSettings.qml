// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The "AIS Settings" page, offered once a target has been seen. The application sets
// `model` to a CDlg_AIS_settings; every change is applied and saved at once.
Item {
    id: root
    required property CDlg_AIS_settings model

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 12
        y: 12
        // Room on the right for the page's scroll bar.
        width: parent.width - 36
        spacing: 6

        Label { text: qsTr("Collision alarm"); font.bold: true }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            opacity: 0.7
            text: qsTr("A ship that will pass closer than the alarm distance within the alarm time raises the alarm; within twice both it is shown yellow.")
        }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Alarm distance"); Layout.fillWidth: true }
            ComboBox {
                model: root.model.alarmDistanceChoices
                currentIndex: root.model.alarmDistanceIndex
                onActivated: (index) => { root.model.alarmDistanceIndex = index }
                Accessible.name: qsTr("Alarm distance")
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Alarm distance for class B"); Layout.fillWidth: true }
            ComboBox {
                model: root.model.classBDistanceChoices
                currentIndex: root.model.classBDistanceIndex
                onActivated: (index) => { root.model.classBDistanceIndex = index }
                Accessible.name: qsTr("Alarm distance for class B targets")
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Alarm time (minutes)"); Layout.fillWidth: true }
            SpinBox {
                from: 1; to: 60
                value: root.model.alarmMinutes
                editable: true
                onValueModified: root.model.alarmMinutes = value
                Accessible.name: qsTr("Alarm time in minutes")
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Only when closing faster than"); Layout.fillWidth: true }
            ComboBox {
                model: root.model.closingSpeedChoices
                currentIndex: root.model.closingSpeedIndex
                onActivated: (index) => { root.model.closingSpeedIndex = index }
                Accessible.name: qsTr("Minimum closing speed")
            }
        }
        Switch {
            text: qsTr("Sound the alarm")
            checked: root.model.beep
            onToggled: root.model.beep = checked
        }

        Label { text: qsTr("On the map"); font.bold: true; Layout.topMargin: 8 }
        Switch {
            text: qsTr("Range rings around moving targets")
            checked: root.model.rangeRing
            onToggled: root.model.rangeRing = checked
        }
        Switch {
            text: qsTr("Draw the tracks of targets")
            checked: root.model.recordTracks
            onToggled: root.model.recordTracks = checked
        }
    }
}
