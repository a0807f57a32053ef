import QtQuick
import Olvex

// Shown while the selected folder holds an interrupted operation: what happened, what to keep
// if recovery fails, and the button that rolls it back.
SectionBox {
    id: box

    required property AppModel appModel

    objectName: "recoveryBox"
    color: Theme.warningBackground
    border.color: Theme.warningBorder

    Item {
        width: parent.width
        height: Math.max(texts.height, recoverButton.height)

        Column {
            id: texts

            anchors.left: parent.left
            anchors.right: recoverButton.left
            anchors.rightMargin: 16
            spacing: 6

            Row {
                spacing: 8

                ThemeIcon {
                    name: "dialog-warning"
                    size: 18
                    color: Theme.accent
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    text: "发现上次中断的操作，请退出游戏后恢复。"
                    font.pixelSize: Theme.headline
                    font.bold: true
                    color: Theme.text
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
            SelectableText {
                text: "若恢复失败，请保留 .olvex-manager 和 active.json；检查空间与权限后重试。可在备份区域打开" + PlatformWords.fileBrowser + "查看备份。"
            }
        }
        PlainButton {
            id: recoverButton

            objectName: "recoverButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: "恢复中断操作"
            prominent: true
            enabled: box.appModel.folders.gameClosed
            onClicked: box.appModel.folders.recover()
        }
    }
}
