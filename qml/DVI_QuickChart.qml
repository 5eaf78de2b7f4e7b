// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import com.navora.nv

// The map on a display page. The item itself paints the chart; this file turns the
// user's gestures into its handlers and shows the scale bar and the map buttons.
//
// - Mouse: press, drag and release with any button; the wheel zooms one level per notch
//   at the pointer, a touchpad's two-finger scroll pans.
// - Touch: one finger pans, flings and taps; two fingers pinch about their centre.
// - Keyboard: the item takes the focus on any input and hands every key to the engine.
CDVI_QuickChart_Window {
    id: root

    focus: true
    Accessible.role: Accessible.Graphic
    Accessible.name: qsTr("Map")

    Keys.onPressed: function (event) {
        event.accepted = root.onKeyPressed(event.key)
    }

    PinchArea {
        id: pinchArea
        anchors.fill: parent

        function distanceSq(pinch) {
            const dx = pinch.point1.x - pinch.point2.x
            const dy = pinch.point1.y - pinch.point2.y
            return dx * dx + dy * dy
        }

        onPinchStarted: function (pinch) {
            pinch.accepted = true
            root.onPinchBegin(pinch.center.x, pinch.center.y, distanceSq(pinch))
        }
        onPinchUpdated: function (pinch) {
            root.onPinchMove(pinch.center.x, pinch.center.y, distanceSq(pinch))
        }
        onPinchFinished: function (pinch) {
            root.onPinchEnd()
        }

        MouseArea {
            id: pointer
            anchors.fill: parent
            acceptedButtons: Qt.AllButtons
            hoverEnabled: false
            preventStealing: true
            cursorShape: pressed ? Qt.ClosedHandCursor : Qt.OpenHandCursor

            // Touches arrive here as mouse events Qt made from them; they take the touch
            // handlers, which use the touch radius for taps and keep fling velocity.
            property bool touch: false

            onPressed: function (mouse) {
                touch = mouse.source === Qt.MouseEventSynthesizedByQt
                if (touch) {
                    root.onSingleTouchDown(mouse.x, mouse.y)
                } else {
                    mouse.accepted = root.onPressed(mouse.button, mouse.x, mouse.y)
                }
            }
            onPositionChanged: function (mouse) {
                if (touch) {
                    root.onSingleTouchMove(mouse.x, mouse.y)
                } else {
                    root.onMouseDragged(mouse.x, mouse.y)
                }
            }
            onReleased: function (mouse) {
                if (touch) {
                    root.onSingleTouchUp()
                } else {
                    root.onReleased(mouse.button, mouse.x, mouse.y)
                }
                touch = false
            }
            onCanceled: {
                // A second finger turned the gesture into a pinch: the pinch ends it.
                touch = false
            }
            onWheel: function (wheel) {
                // A touchpad reports pixels and scrolls; a wheel reports notches of 120.
                if (wheel.pixelDelta.x !== 0 || wheel.pixelDelta.y !== 0) {
                    root.onScrollGesture(wheel.pixelDelta, wheel.inverted)
                } else if (wheel.angleDelta.y !== 0) {
                    // Forward (away from the user) zooms in, which is a negative step.
                    root.onMouseWheel(-wheel.angleDelta.y / 120, wheel.x, wheel.y)
                }
                wheel.accepted = true
            }
        }
    }

    // ---- scale bar, bottom left ----
    Item {
        id: scaleBar
        visible: root.scaleBarWidth > 0
        x: 12
        y: root.height - height - 10
        width: Math.max(root.scaleBarWidth, label.implicitWidth)
        height: label.implicitHeight + 8

        Text {
            id: label
            anchors.left: parent.left
            anchors.bottom: bar.top
            anchors.bottomMargin: 2
            text: root.scaleBarText
            color: "black"
            style: Text.Outline
            styleColor: "white"
            font.pixelSize: 13
        }
        Rectangle {
            id: bar
            anchors.left: parent.left
            anchors.bottom: parent.bottom
            width: root.scaleBarWidth
            height: 5
            color: root.scaleBarColor
            border.color: Qt.rgba(0, 0, 0, 0.6)
            border.width: 1
        }
    }

    // ---- chart data on its way, bottom right ----
    Rectangle {
        id: loadingNote
        visible: root.loading
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 10
        width: loadingRow.implicitWidth + 16
        height: loadingRow.implicitHeight + 10
        radius: 6
        color: Qt.rgba(1, 1, 1, 0.85)
        border.color: Qt.rgba(0, 0, 0, 0.3)

        Row {
            id: loadingRow
            anchors.centerIn: parent
            spacing: 6
            BusyIndicator {
                running: loadingNote.visible
                width: 20
                height: 20
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: qsTr("Loading chart…")
                font.pixelSize: 13
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    // ---- map buttons, top left ----
    Column {
        x: 8
        y: 8
        spacing: 8
        visible: root.width >= 120 && root.height >= 120

        component MapButton: ToolButton {
            id: button
            property string tip
            implicitWidth: 44
            implicitHeight: 44
            icon.width: 26
            icon.height: 26
            icon.color: "black"
            focusPolicy: Qt.NoFocus  // the map keeps the keyboard
            Accessible.name: tip
            ToolTip.visible: hovered && tip.length > 0
            ToolTip.text: tip
            ToolTip.delay: 600
            background: Rectangle {
                radius: 8
                color: button.checked ? "#cde6ff" : (button.pressed ? "#dddddd" : "#f2ffffff")
                border.color: "#80000000"
                border.width: 1
            }
        }

        MapButton {
            id: mapsButton
            objectName: "mapsButton"
            tip: qsTr("Maps")
            icon.source: "qrc:/maps.svg"
            onClicked: root.onClickedMaps(mapsButton)
        }
        MapButton {
            id: lockButton
            objectName: "lockButton"
            tip: root.gpsLockedOn ? qsTr("Following the GPS position") : qsTr("Follow the GPS position")
            icon.source: "qrc:/gps_lock.svg"
            checkable: false
            checked: root.gpsLockedOn
            onClicked: root.onClickedLockGPS()
        }
    }
}
