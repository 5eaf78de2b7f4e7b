// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import com.navora.nv
import QtQuick.Controls
import QtQuick.Layouts

// Hosts one settings or set-up page (a QML file with a `model` property). A page that has
// a `done(ok)` signal ends itself with its own buttons; the answer goes back to the
// application under `requestId`. Closing the popup any other way answers "cancelled".
Popup {
    id: popup
    property alias title: heading.text
    property var pageModel: null
    property int requestId: 0
    property bool answered: false
    signal finished(int requestId, bool ok)
    signal outputRulesRequested()
    signal helpRequested(string topic)

    function show(t, file, m, id) {
        if (opened && requestId !== 0 && !answered) finished(requestId, false)
        title = t
        pageModel = m
        requestId = id === undefined ? 0 : id
        answered = false
        loader.source = ""
        // Pages take their model as a required property, so it goes in at creation.
        loader.setSource(file, { model: m })
        open()
    }

    function answer(ok) {
        if (!answered && requestId !== 0) {
            answered = true
            finished(requestId, ok)
        }
        close()
    }

    parent: Overlay.overlay
    modal: true
    focus: true
    anchors.centerIn: parent
    width: Math.min(parent.width - 16, 560)
    height: Math.min(parent.height - 16, 640)
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    background: Rectangle { color: palette.window; radius: 10 }

    ColumnLayout {
        anchors.fill: parent
        Label {
            id: heading
            font.bold: true
            font.pixelSize: 18
            Layout.fillWidth: true
        }
        ScrollView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: availableWidth
            Loader {
                id: loader
                width: parent.width
            }
            // Set-up pages end themselves (done) and may ask for the output rules.
            Connections {
                target: loader.item
                ignoreUnknownSignals: true
                function onDone(ok) { popup.answer(ok) }
                function onOutputRulesRequested() { popup.outputRulesRequested() }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Button {
                // Help about the page shown; the guide itself has no help button.
                text: qsTr("Help")
                visible: popup.title !== qsTr("Help")
                onClicked: popup.helpRequested(popup.title)
            }
            Item { Layout.fillWidth: true }
            Button {
                text: qsTr("Close")
                // Pages with their own OK/Cancel end themselves.
                visible: !(loader.item && loader.item.hasOwnProperty("done"))
                onClicked: popup.answer(true)
            }
        }
    }
    onClosed: {
        if (!answered && requestId !== 0) {
            answered = true
            finished(requestId, false)
        }
        loader.source = ""
    }
}
