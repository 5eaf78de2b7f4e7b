// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The user guide, one chapter at a time.
ColumnLayout {
    id: root
    property var model: null
    spacing: 8

    ComboBox {
        Layout.fillWidth: true
        model: root.model ? root.model.titles : []
        currentIndex: root.model ? root.model.current : 0
        onActivated: (index) => { if (root.model) root.model.current = index }
        Accessible.name: qsTr("Chapter")
    }
    Text {
        Layout.fillWidth: true
        textFormat: Text.MarkdownText
        wrapMode: Text.Wrap
        color: palette.windowText
        linkColor: palette.link
        font.pixelSize: 15
        text: root.model ? root.model.text : ""
        onLinkActivated: (link) => { if (root.model) root.model.openLink(link) }
        HoverHandler { cursorShape: parent.hoveredLink ? Qt.PointingHandCursor : Qt.ArrowCursor }
    }
}
