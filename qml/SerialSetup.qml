// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// Serial port and baud rate. `model` is a CDlg_serial_setup; `done(ok)` ends the page.
Item {
    id: root

    required property CDlg_serial_setup model
    readonly property string title: qsTr("Serial")
    signal done(bool ok)

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: parent.width - 24
        spacing: 10

        Label { text: qsTr("Port") }
        ListView {
            id: ports
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 240)
            clip: true
            model: root.model.ports
            delegate: ItemDelegate {
                required property var modelData
                width: ports.width
                highlighted: root.model !== null && modelData.device === root.model.device
                text: modelData.label + (modelData.accessible ? "" : "  ⚠")
                onClicked: root.model.device = modelData.device
            }
        }
        Label {
            visible: ports.count === 0
            text: qsTr("No serial ports found. Plug the device in and press Refresh.")
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        // Devices the system does not list (a pseudo-terminal from socat or gpsd, a
        // Bluetooth rfcomm link) are typed in.
        RowLayout {
            Label { text: qsTr("Device") }
            TextField {
                id: devicePath
                Layout.fillWidth: true
                placeholderText: "/dev/ttyUSB0"
                text: root.model.device
                inputMethodHints: Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                onEditingFinished: root.model.device = text.trim()
                Accessible.name: qsTr("Device path")
            }
        }

        RowLayout {
            Label { text: qsTr("Baud rate") }
            ComboBox {
                id: baud
                Layout.fillWidth: true
                model: root.model.baudRates
                currentIndex: {
                    const rates = root.model.baudRates
                    for (let i = 0; i < rates.length; ++i)
                        if (rates[i] === root.model.baud) return i
                    return -1
                }
                onActivated: function (index) { root.model.baud = root.model.baudRates[index] }
            }
        }

        Label {
            Layout.fillWidth: true
            visible: text.length > 0
            wrapMode: Text.Wrap
            color: "firebrick"
            text: root.model.problem
        }

        RowLayout {
            Button {
                text: qsTr("Refresh")
                onClicked: root.model.refreshPorts()
            }
            Item { Layout.fillWidth: true }
            Button {
                text: qsTr("Cancel")
                onClicked: root.done(false)
            }
            Button {
                text: qsTr("OK")
                highlighted: true
                onClicked: {
                    if (devicePath.text.trim() !== root.model.device) root.model.device = devicePath.text.trim()
                    if (root.model.apply()) root.done(true)
                }
            }
        }
    }
}
