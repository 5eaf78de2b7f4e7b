// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import QtQuick.Dialogs
import com.navora.nv

ApplicationWindow {
    id: window
    width: 1280
    height: 800
    minimumWidth: 320
    minimumHeight: 400
    visible: true
    title: qsTr("Navora")
    font.family: "Roboto"

    readonly property bool compact: width < 600
    readonly property int buttonSize: compact ? 44 : 52
    palette.window: app.darkTheme ? "#1b1f24" : "#f4f6f8"
    palette.windowText: app.darkTheme ? "#e8eaed" : "#1b1f24"

    CNavoraAppModel {
        id: app
        anchors.fill: parent

        // The page area: display pages are laid out here. Two page items take turns so
        // that the page being left slides out while the next slides in.
        Item {
            id: pageArea
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: toolbar.top
            clip: true
            onWidthChanged: app.widthOrHeightChanged()
            onHeightChanged: app.widthOrHeightChanged()

            CDisplayViewPage { id: pageA; width: pageArea.width; height: pageArea.height; focus: true }
            CDisplayViewPage { id: pageB; width: pageArea.width; height: pageArea.height; visible: false }

            ParallelAnimation {
                id: slide
                property Item leaving
                property Item arriving
                NumberAnimation { id: leaveAnim; target: slide.leaving; property: "x"; duration: 250; easing.type: Easing.OutCubic }
                NumberAnimation { id: arriveAnim; target: slide.arriving; property: "x"; to: 0; duration: 250; easing.type: Easing.OutCubic }
                onFinished: app.detachItem(slide.leaving)
            }

            Keys.onPressed: (event) => {
                if (event.key === Qt.Key_PageDown) { app.nextPage(); event.accepted = true }
                else if (event.key === Qt.Key_PageUp) { app.previousPage(); event.accepted = true }
            }
        }

        Toolbar {
            id: toolbar
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            buttonSize: window.buttonSize
            model: app
        }

        Label {
            id: status
            visible: app.statusText.length > 0
            text: app.statusText
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: toolbar.top
            anchors.bottomMargin: 8
            width: Math.min(implicitWidth + 24, parent.width - 16)
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            padding: 8
            color: "white"
            background: Rectangle { color: "#cc202830"; radius: 6 }
            MouseArea { anchors.fill: parent; onClicked: app.clearStatusText() }
            // A status line is news, not a label: it goes after a while.
            Timer {
                id: statusTimeout
                interval: 8000
                onTriggered: app.clearStatusText()
            }
            Connections {
                target: app
                function onStatusTextChanged() { if (app.statusText.length > 0) statusTimeout.restart() }
            }
        }

        Button {
            id: doneButton
            visible: app.showDoneButton
            text: qsTr("Done")
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 12
            highlighted: true
            onClicked: app.onDoneButton()
        }

        ScreenLock { id: screenLock; anchors.fill: parent }

        Component.onCompleted: app.attachCurrentPageToItem(pageA, pageB)
        onScreenLocked: screenLock.lock()
        onTransition: (oldItem, newItem, direction) => {
            if (slide.running) slide.complete()
            slide.leaving = oldItem
            slide.arriving = newItem
            leaveAnim.from = 0
            leaveAnim.to = -direction * pageArea.width
            arriveAnim.from = direction * pageArea.width
            slide.start()
        }
    }

    ActionSheet {
        id: actionSheet
        onChosen: (menuId, index) => app.actionChosen(menuId, index)
    }

    MessageBoxDialog {
        id: messageBox
        onAnswered: (id, button) => app.messageBoxAnswered(id, button)
    }

    SettingsPopup {
        id: settingsPopup
        onFinished: (requestId, ok) => app.pageFinished(requestId, ok)
        onOutputRulesRequested: app.showOutputRules()
        onHelpRequested: (topic) => app.showHelpForTag(topic)
    }

    FileDialog {
        id: fileDialog
        property int requestId: 0
        onAccepted: app.fileChosen(requestId, selectedFile)
        onRejected: app.fileChosen(requestId, "")
    }

    Connections {
        target: app
        function onFileDialogRequested(requestId, title, nameFilters, save, suggestedName) {
            fileDialog.requestId = requestId
            fileDialog.title = title
            fileDialog.nameFilters = nameFilters
            fileDialog.fileMode = save ? FileDialog.SaveFile : FileDialog.OpenFile
            if (suggestedName.length > 0) fileDialog.selectedFile = suggestedName
            fileDialog.open()
        }
        function onActionSheetRequested(menuId, title, entries) { actionSheet.show(menuId, title, entries) }
        function onMessageBoxRequested(id, title, text, buttons) { messageBox.enqueue(id, title, text, buttons) }
        function onSettingsPageRequested(title, qmlFile, model, requestId) { settingsPopup.show(title, qmlFile, model, requestId) }
    }
}
