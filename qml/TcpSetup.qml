// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// TCP server address and port. `model` is a CDlg_tcp_setup; `done(ok)` ends the page.
Item {
    id: root

    required property CDlg_tcp_setup model
    readonly property string title: qsTr("TCP/IP")
    signal done(bool ok)

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: parent.width - 24
        spacing: 10

        Label { text: qsTr("Address") }
        TextField {
            Layout.fillWidth: true
            text: root.model.address
            inputMethodHints: Qt.ImhPreferNumbers | Qt.ImhNoAutoUppercase
            onEditingFinished: root.model.address = text
        }
        Label { text: qsTr("Port") }
        SpinBox {
            from: 1
            to: 65535
            editable: true
            value: root.model.port
            onValueModified: root.model.port = value
            // A port is a number, not a quantity: no thousands separator.
            textFromValue: (v) => String(v)
            valueFromText: (t) => parseInt(t, 10) || 0
            validator: IntValidator { bottom: 1; top: 65535 }
        }
        CheckBox {
            text: qsTr("Fetch AIS targets when connecting")
            checked: root.model !== null && root.model.instantAcquisition
            onToggled: root.model.instantAcquisition = checked
        }
        CheckBox {
            enabled: root.model !== null && root.model.currentNetwork.length > 0
            text: root.model.currentNetwork.length > 0
                  ? qsTr("Connect only on network \"%1\"").arg(root.model.currentNetwork)
                  : qsTr("Connect only on this network (unknown)")
            checked: root.model !== null && root.model.onlyOnThisNetwork
            onToggled: root.model.onlyOnThisNetwork = checked
        }
        Label {
            Layout.fillWidth: true
            visible: text.length > 0
            wrapMode: Text.Wrap
            color: "firebrick"
            text: root.model.error
        }
        RowLayout {
            Item { Layout.fillWidth: true }
            Button {
                text: qsTr("Cancel")
                onClicked: root.done(false)
            }
            Button {
                text: qsTr("OK")
                highlighted: true
                onClicked: if (root.model.apply()) root.done(true)
            }
        }
    }
}
