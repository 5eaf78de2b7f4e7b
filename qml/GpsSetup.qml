// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The "GPS Connection" page. The application sets `model` to a CDlg_gps_setup; choosing a
// kind asks the model, which may open that kind's own set-up page before connecting.
Item {
    id: root

    required property CDlg_gps_setup model
    readonly property string title: qsTr("GPS Connection")
    signal outputRulesRequested()

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: parent.width - 24
        spacing: 10

        Repeater {
            model: root.model.typeNames
            delegate: RadioButton {
                required property int index
                required property string modelData
                Layout.fillWidth: true
                Layout.minimumHeight: 40
                text: modelData
                checked: root.model !== null && root.model.typeIds[index] === root.model.currentType
                onClicked: root.model.choose(root.model.typeIds[index])
            }
        }

        Label {
            Layout.fillWidth: true
            visible: text.length > 0
            wrapMode: Text.Wrap
            text: root.model.status
        }

        Switch {
            text: qsTr("Record received data for diagnosis")
            checked: root.model !== null && root.model.debugging
            onToggled: root.model.setDebugging(checked)
        }

        RowLayout {
            Button {
                text: qsTr("Reconnect")
                onClicked: root.model.reconnect()
            }
            Button {
                text: qsTr("Output rules…")
                onClicked: root.outputRulesRequested()
            }
        }
    }
}
