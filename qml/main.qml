// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import com.navora.nv 1.0

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

        // The page area: display pages are laid out here.
        Item {
            id: pageArea
            anchors.fill: parent
            onWidthChanged: app.widthOrHeightChanged()
            onHeightChanged: app.widthOrHeightChanged()

            Item { id: currentPage; width: pageArea.width; height: pageArea.height }
            Item { id: alternatePage; width: pageArea.width; height: pageArea.height; visible: false }

            WelcomePane {
                anchors.fill: parent
                dark: app.darkTheme
                version: app.versionText
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

        Component.onCompleted: app.attachCurrentPageToItem(currentPage, alternatePage)
        onScreenLocked: screenLock.lock()
    }

    ActionSheet {
        id: actionSheet
        onChosen: (menuId, index) => app.actionChosen(menuId, index)
    }

    MessageBoxDialog {
        id: messageBox
        onAnswered: (id, button) => app.messageBoxAnswered(id, button)
    }

    SettingsPopup { id: settingsPopup }

    Connections {
        target: app
        function onActionSheetRequested(menuId, title, entries) { actionSheet.show(menuId, title, entries) }
        function onMessageBoxRequested(id, title, text, buttons) { messageBox.enqueue(id, title, text, buttons) }
        function onSettingsPageRequested(title, qmlFile, model) { settingsPopup.show(title, qmlFile, model) }
    }
}
