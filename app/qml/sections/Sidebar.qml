pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Olvex

// The sidebar: the brand, the version folders found, the saved roots and the folder picker.
Rectangle {
    id: sidebar

    required property AppModel appModel

    color: Theme.sidebarBackground

    ColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        anchors.topMargin: 20
        anchors.bottomMargin: 16
        spacing: 18

        Column {
            Layout.fillWidth: true
            spacing: 4

            Row {
                spacing: 8

                Image {
                    source: "qrc:/Olvex/app-icon.svg"
                    sourceSize: Qt.size(26, 26)
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    text: "Kelvarn"
                    font.pixelSize: Theme.title2
                    font.bold: true
                    color: Theme.accent
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                text: "Tarnel · 本地版"
                font.pixelSize: Theme.caption
                color: Theme.secondaryText
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 6

            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                Layout.leftMargin: 10
                text: "游戏版本"
                font.pixelSize: Theme.caption
                font.bold: true
                color: Theme.tertiaryText
            }
            ListView {
                id: clientList

                objectName: "clientList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                spacing: 2
                boundsBehavior: Flickable.StopAtBounds
                model: sidebar.appModel.folders.clients
                Accessible.name: "游戏版本"
                // A list to the keyboard too: Up/Down/Home/End move, Enter or Space chooses.
                activeFocusOnTab: true
                keyNavigationEnabled: true
                Accessible.role: Accessible.List
                Keys.onPressed: event => {
                    if (event.key === Qt.Key_Home || event.key === Qt.Key_End) {
                        clientList.currentIndex = event.key === Qt.Key_Home ? 0 : clientList.count - 1;
                        event.accepted = true;
                    } else if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space) && clientList.currentItem) {
                        sidebar.appModel.folders.selection = (clientList.currentItem as ClientRow).clientId;
                        event.accepted = true;
                    }
                }
                delegate: ClientRow {
                    width: clientList.width
                    onChosen: clientId => sidebar.appModel.folders.selection = clientId
                }
                ScrollIndicator.vertical: ScrollIndicator {
                }
            }
        }

        SavedRootsMenu {
            Layout.fillWidth: true
            visible: sidebar.appModel.folders.hasSavedRoots
            appModel: sidebar.appModel
        }

        PlainButton {
            objectName: "chooseGameButton"
            Layout.fillWidth: true
            text: "选择游戏目录…"
            icon.name: "folder-new"
            onClicked: sidebar.appModel.folders.chooseGame()
        }
    }

    Rectangle {
        anchors.right: parent.right
        width: 1
        height: parent.height
        color: Theme.divider
    }
}
