// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The local UDP port to listen on. `model` is a CDlg_udp_setup; `done(ok)` ends the page.
Item {
    id: root

    required property CDlg_udp_setup model
    readonly property string title: qsTr("UDP/IP")
    signal done(bool ok)

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: parent.width - 24
        spacing: 10

        Label { text: qsTr("Listen on port") }
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
            enabled: root.model !== null && root.model.currentNetwork.length > 0
            text: root.model.currentNetwork.length > 0
                  ? qsTr("Listen only on network \"%1\"").arg(root.model.currentNetwork)
                  : qsTr("Listen only on this network (unknown)")
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
