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
                    text: "Kelvarn"
                    font.pixelSize: Theme.title2
                    font.bold: true
                    color: Theme.accent
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
            Text {
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
