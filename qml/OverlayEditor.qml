// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The editor of one mark, route or track (or of the template new ones copy). Which
// fields show depends on `model.kind`; OK writes them back, Cancel forgets them. `model`
// is a COverlayEditModel; the popup deletes itself when closed.
Popup {
    id: popup

    required property COverlayEditModel model
    readonly property bool isMark: model.kind === "mark"

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    width: parent ? Math.min(parent.width - 16, 520) : 360
    height: parent ? Math.min(parent.height - 16, 720) : 480
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    onClosed: destroy()
    background: Rectangle { color: palette.window; radius: 10; border.color: palette.mid }

    ColumnLayout {
        anchors.fill: parent
        spacing: 6

        Label {
            text: popup.model.title
            font.bold: true
            font.pixelSize: 18
        }

        ScrollView {
            id: scroll
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: availableWidth

            ColumnLayout {
                width: scroll.availableWidth
                spacing: 6

                Label { text: qsTr("Name") }
                TextField {
                    Layout.fillWidth: true
                    text: popup.model.name
                    focus: true
                    onTextEdited: popup.model.name = text
                }

                // ---- mark: icon and alarm
                Label { visible: popup.isMark; text: qsTr("Icon") }
                ComboBox {
                    id: iconBox
                    visible: popup.isMark
                    Layout.fillWidth: true
                    model: popup.model.icons
                    textRole: "name"
                    currentIndex: {
                        const list = popup.model.icons
                        for (let i = 0; i < list.length; ++i)
                            if (list[i].name === popup.model.icon) return i
                        return -1
                    }
                    onActivated: (index) => popup.model.icon = popup.model.icons[index].name
                    delegate: ItemDelegate {
                        required property var modelData
                        required property int index
                        width: iconBox.width
                        text: modelData.name
                        icon.source: modelData.url
                        icon.color: "transparent"
                        highlighted: iconBox.highlightedIndex === index
                    }
                }

                Label { text: qsTr("Colour") }
                CheckBox {
                    visible: popup.isMark
                    text: qsTr("Use the icon's own colours")
                    checked: !popup.model.hasColor
                    onToggled: popup.model.hasColor = !checked
                }
                Flow {
                    Layout.fillWidth: true
                    spacing: 6
                    enabled: !popup.isMark || popup.model.hasColor
                    opacity: enabled ? 1 : 0.4
                    Repeater {
                        model: popup.model.colorChoices
                        delegate: Rectangle {
                            required property string modelData
                            width: 34
                            height: 34
                            radius: 17
                            color: modelData
                            border.width: Qt.colorEqual(popup.model.color, modelData) ? 4 : 1
                            border.color: Qt.colorEqual(popup.model.color, modelData) ? palette.highlight : "#808080"
                            MouseArea {
                                anchors.fill: parent
                                onClicked: popup.model.color = parent.modelData
                            }
                        }
                    }
                }

                GridLayout {
                    visible: popup.isMark
                    columns: 2
                    Layout.fillWidth: true
                    Label { text: qsTr("Alarm") }
                    ComboBox {
                        Layout.fillWidth: true
                        model: [qsTr("None"), qsTr("Proximity: when nearer than"), qsTr("Anchor: when farther than")]
                        currentIndex: popup.model.alarmType
                        onActivated: (index) => popup.model.alarmType = index
                    }
                    Label { text: qsTr("Radius (m)"); visible: popup.model.alarmType > 0 }
                    TextField {
                        visible: popup.model.alarmType > 0
                        Layout.fillWidth: true
                        text: popup.model.alarmRadius > 0 ? String(Math.round(popup.model.alarmRadius)) : ""
                        inputMethodHints: Qt.ImhDigitsOnly
                        validator: IntValidator { bottom: 1; top: 100000 }
                        onTextEdited: popup.model.alarmRadius = Number(text)
                    }
                }

                // ---- routes and tracks: line
                GridLayout {
                    visible: !popup.isMark
                    columns: 2
                    Layout.fillWidth: true
                    Label { text: qsTr("Line width") }
                    SpinBox {
                        from: 1
                        to: 20
                        value: Math.round(popup.model.lineWidth)
                        onValueModified: popup.model.lineWidth = value
                    }
                    Label { text: qsTr("Pattern") }
                    ComboBox {
                        Layout.fillWidth: true
                        model: popup.model.patternNames
                        currentIndex: popup.model.pattern
                        onActivated: (index) => popup.model.pattern = index
                    }
                }

                Label { text: qsTr("Notes") }
                TextArea {
                    Layout.fillWidth: true
                    Layout.preferredHeight: Math.max(70, implicitHeight)
                    wrapMode: TextEdit.Wrap
                    background: Rectangle { color: palette.base; border.color: palette.mid; radius: 3 }
                    text: popup.model.notes
                    onTextChanged: if (text !== popup.model.notes) popup.model.notes = text
                }

                // ---- statistics and waypoints
                GridLayout {
                    visible: popup.model.statistics.length > 0
                    columns: 2
                    Layout.fillWidth: true
                    Layout.topMargin: 6
                    Repeater {
                        model: popup.model.statistics
                        delegate: Label {
                            required property var modelData
                            required property int index
                            text: modelData.label
                            opacity: 0.7
                            Layout.row: index
                            Layout.column: 0
                        }
                    }
                    Repeater {
                        model: popup.model.statistics
                        delegate: Label {
                            required property var modelData
                            required property int index
                            text: modelData.value
                            Layout.row: index
                            Layout.column: 1
                        }
                    }
                }
                Label {
                    visible: popup.model.waypoints.length > 0
                    text: qsTr("Waypoints")
                    font.bold: true
                    Layout.topMargin: 6
                }
                Repeater {
                    model: popup.model.waypoints
                    delegate: Label {
                        required property var modelData
                        Layout.fillWidth: true
                        text: modelData.name + "   " + modelData.position
                        elide: Text.ElideRight
                    }
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Item { Layout.fillWidth: true }
            Button {
                text: qsTr("Cancel")
                onClicked: popup.close()
            }
            Button {
                text: qsTr("OK")
                highlighted: true
                onClicked: {
                    popup.model.apply()
                    popup.close()
                }
            }
        }
    }
}
