// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// Which sentences are written to the device: one rule per line, the last matching one
// decides. `model` is a CDlg_output_rules.
Item {
    id: root

    required property CDlg_output_rules model
    readonly property string title: qsTr("Output rules")
    signal done(bool ok)

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: parent.width - 24
        spacing: 10

        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("One rule per line, e.g. \"Allow ECRMB\" or \"Deny GPGSV\"; \"?\" matches any character. Without rules nothing is sent.")
        }
        TextArea {
            id: rules
            Layout.fillWidth: true
            Layout.preferredHeight: 160
            font.family: "monospace"
            text: root.model.text
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
                onClicked: {
                    root.model.text = rules.text
                    root.model.apply()
                    root.done(true)
                }
            }
        }
    }
}
