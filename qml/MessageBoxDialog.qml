// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// Message boxes one at a time; later ones wait their turn.
Dialog {
    id: dlg
    signal answered(int id, int button)
    property var queue: []
    property int messageId: 0
    property var buttons: []
    property string text

    function enqueue(id, t, txt, btns) {
        queue.push({ id: id, title: t, text: txt, buttons: btns })
        if (!visible) showNext()
    }
    function showNext() {
        if (queue.length === 0) return
        const m = queue.shift()
        messageId = m.id
        title = m.title
        text = m.text
        buttons = m.buttons
        open()
    }
    function answer(index) {
        const id = messageId
        close()
        answered(id, index)
        showNext()
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: Math.min(parent.width - 32, 480)
    closePolicy: Popup.NoAutoClose
    onRejected: answer(buttons.length - 1)

    contentItem: Label {
        text: dlg.text
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
    }
    footer: RowLayout {
        spacing: 8
        Item { Layout.fillWidth: true }
        Repeater {
            model: dlg.buttons
            delegate: Button {
                required property string modelData
                required property int index
                text: modelData.trim()
                Layout.margins: 8
                highlighted: index === 0
                focus: index === 0
                onClicked: dlg.answer(this.index)
                Keys.onReturnPressed: dlg.answer(this.index)
            }
        }
    }
}
