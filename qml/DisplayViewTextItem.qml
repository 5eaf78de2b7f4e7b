// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv

// A text read-out on a display page: a small title above a large value with its units,
// or several lines of text. The value shrinks to fit the item.
CTextViewAdaptor {
    id: root
    clip: true

    Rectangle {
        anchors.fill: parent
        radius: 6
        color: palette.base
        border.color: palette.mid
        border.width: 1
    }

    Text {
        id: titleText
        visible: !root.multiline
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 4
        height: Math.max(12, root.height * 0.22)
        text: root.title
        color: palette.text
        font.pixelSize: height * 0.8
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 8
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignLeft
    }

    Text {
        id: unitsText
        visible: !root.multiline && root.units.length > 0
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 4
        height: Math.max(10, root.height * 0.18)
        text: root.units
        color: palette.text
        font.pixelSize: height * 0.8
    }

    Text {
        id: valueText
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: root.multiline ? parent.top : titleText.bottom
        anchors.bottom: root.multiline ? parent.bottom : unitsText.top
        anchors.margins: 4
        text: root.value
        color: palette.text
        wrapMode: root.multiline ? Text.WordWrap : Text.NoWrap
        font.pixelSize: root.multiline ? 16 : Math.max(10, height)
        font.bold: !root.multiline
        fontSizeMode: root.multiline ? Text.FixedSize : Text.Fit
        minimumPixelSize: 8
        horizontalAlignment: root.multiline ? Text.AlignLeft : Text.AlignHCenter
        verticalAlignment: root.multiline ? Text.AlignTop : Text.AlignVCenter
    }
}
