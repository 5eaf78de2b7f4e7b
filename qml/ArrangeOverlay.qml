// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls

// Shown over a display page while its layout is edited: the cell grid, the selection
// box with its resize corner, a hint, and the buttons of the editor. `page` is the
// CDisplayViewPage being arranged; pointer input on the page itself goes to the page.
Item {
    id: overlay
    property var page: null

    // The grid, so that the user sees the cells items snap to.
    Canvas {
        id: grid
        anchors.fill: parent
        opacity: 0.25
        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            if (!overlay.page || overlay.page.gridRows <= 0 || overlay.page.gridColumns <= 0)
                return
            var r = overlay.page.gridRect
            var cw = r.width / overlay.page.gridColumns
            var ch = r.height / overlay.page.gridRows
            ctx.strokeStyle = "#808080"
            ctx.lineWidth = 1
            ctx.beginPath()
            for (var c = 0; c <= overlay.page.gridColumns; ++c) {
                ctx.moveTo(r.x + c * cw, r.y)
                ctx.lineTo(r.x + c * cw, r.y + r.height)
            }
            for (var i = 0; i <= overlay.page.gridRows; ++i) {
                ctx.moveTo(r.x, r.y + i * ch)
                ctx.lineTo(r.x + r.width, r.y + i * ch)
            }
            ctx.stroke()
        }
        Connections {
            target: overlay.page
            function onArrangingChanged() { grid.requestPaint() }
        }
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()
    }

    Rectangle {
        id: selection
        visible: overlay.page !== null && overlay.page.hasSelection
        x: overlay.page ? overlay.page.selectionRect.x : 0
        y: overlay.page ? overlay.page.selectionRect.y : 0
        width: overlay.page ? overlay.page.selectionRect.width : 0
        height: overlay.page ? overlay.page.selectionRect.height : 0
        color: "#302080ff"
        border.color: overlay.page && overlay.page.selectionLocked ? "#c03030" : "#2080ff"
        border.width: 3

        Rectangle {
            visible: !(overlay.page && overlay.page.selectionLocked)
            width: 16
            height: 16
            radius: 3
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            color: "#2080ff"
        }
    }

    Label {
        id: hint
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 8
        text: overlay.page ? overlay.page.hintText : ""
        padding: 8
        color: "white"
        background: Rectangle { color: "#cc202830"; radius: 6 }
    }

    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 12
        spacing: 12
        Button {
            text: qsTr("Add Item")
            onClicked: overlay.page.showAddItemMenu()
        }
        Button {
            text: qsTr("Item Menu")
            enabled: overlay.page !== null && overlay.page.hasSelection
            onClicked: overlay.page.showItemMenu()
        }
        Button {
            text: qsTr("Done")
            highlighted: true
            onClicked: overlay.page.finishArranging()
        }
    }
}
