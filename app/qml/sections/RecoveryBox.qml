import QtQuick
import Olvex

// Shown while the selected folder needs its player's attention: an interrupted operation (what
// happened, what to keep if recovery fails, and the button that rolls it back, or why it cannot
// be rolled back), another manager's running operation, damaged backup records, leftovers.
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
            anchors.right: recoverButton.visible ? recoverButton.left : parent.right
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
                    objectName: "attentionHeading"
                    text: box.appModel.folders.attentionHeading
                    textFormat: Text.PlainText
                    font.pixelSize: Theme.headline
                    font.bold: true
                    color: Theme.text
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
            SelectableText {
                objectName: "attentionText"
                text: box.appModel.folders.attentionText
            }
        }
        PlainButton {
            id: recoverButton

            objectName: "recoverButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: "恢复中断操作"
            prominent: true
            visible: box.appModel.folders.canRecover
            enabled: box.appModel.folders.gameClosed
            onClicked: box.appModel.folders.recover()
        }
    }
}
