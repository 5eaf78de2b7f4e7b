// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// A page of plain text to read (the alarm log). `model` is a CTextPageModel; the popup
// deletes itself when closed.
Popup {
    id: popup

    required property CTextPageModel model

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: parent ? Math.min(parent.width - 16, 720) : 360
    height: parent ? Math.min(parent.height - 16, 640) : 480
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    onClosed: destroy()
    background: Rectangle { color: palette.window; radius: 10; border.color: palette.mid }

    ColumnLayout {
        anchors.fill: parent
        Label {
            text: popup.model.title
            font.bold: true
            font.pixelSize: 18
        }
        ScrollView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            TextArea {
                readOnly: true
                wrapMode: TextEdit.Wrap
                font.family: "monospace"
                text: popup.model.text
            }
        }
        Button {
            Layout.alignment: Qt.AlignRight
            text: qsTr("Close")
            onClicked: popup.close()
        }
    }
}
