// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The "Units" settings page. The application sets `model` to a CUnitSettingsModel;
// every choice is written back at once and the model's unitsChanged signal refreshes the
// boxes when a choice here changes others (a unit family sets speed, depth, temperature).
Item {
    id: root

    required property CUnitSettingsModel model
    readonly property string title: model ? model.title : qsTr("Units")

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 24

    component ChoiceRow: RowLayout {
        id: row

        property alias label: caption.text
        property alias choices: box.model
        property int current: -1
        property bool initialFocus: false
        signal chosen(int index)

        Layout.fillWidth: true
        spacing: 12

        Label {
            id: caption
            Layout.preferredWidth: 140
            elide: Text.ElideRight
        }
        ComboBox {
            id: box
            Layout.fillWidth: true
            Layout.minimumHeight: 40  // comfortable for a finger
            currentIndex: row.current
            focus: row.initialFocus
            focusPolicy: Qt.StrongFocus
            Accessible.name: caption.text
            onActivated: function (index) { row.chosen(index) }
        }
    }

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
            spacing: 10

            ChoiceRow {
                id: familyRow
                label: qsTr("Units")
                choices: root.model.familyChoices
                current: root.model.family
                onChosen: function (index) { root.model.family = index }
                initialFocus: true
            }
            ChoiceRow {
                id: speedRow
                label: qsTr("Speed")
                choices: root.model.speedChoices
                current: root.model.speed
                onChosen: function (index) { root.model.speed = index }
            }
            ChoiceRow {
                id: depthRow
                label: qsTr("Depth")
                choices: root.model.depthChoices
                current: root.model.depth
                onChosen: function (index) { root.model.depth = index }
            }
            ChoiceRow {
                id: positionRow
                label: qsTr("Position format")
                choices: root.model.positionFormatChoices
                current: root.model.positionFormatIndex
                onChosen: function (index) { root.model.positionFormatIndex = index }
            }
            ChoiceRow {
                id: bearingRow
                label: qsTr("Bearings")
                choices: root.model.bearingChoices
                current: root.model.bearings
                onChosen: function (index) { root.model.bearings = index }
            }
            ChoiceRow {
                id: temperatureRow
                label: qsTr("Temperature")
                choices: root.model.temperatureChoices
                current: root.model.temperature
                onChosen: function (index) { root.model.temperature = index }
            }
        }
    }
}
