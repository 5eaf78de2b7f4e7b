// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// The user guide, one chapter at a time.
ColumnLayout {
    id: root
    required property CUserGuide model
    spacing: 8

    ComboBox {
        Layout.fillWidth: true
        model: root.model.titles
        currentIndex: root.model.current
        onActivated: (index) => { root.model.current = index }
        Accessible.name: qsTr("Chapter")
    }
    Text {
        Layout.fillWidth: true
        textFormat: Text.MarkdownText
        wrapMode: Text.Wrap
        color: palette.windowText
        linkColor: palette.link
        font.pixelSize: 15
        text: root.model.text
        onLinkActivated: (link) => { root.model.openLink(link) }
        HoverHandler { cursorShape: parent.hoveredLink ? Qt.PointingHandCursor : Qt.ArrowCursor }
    }
}
