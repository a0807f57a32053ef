pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The scope picker: one account, realm or character of a configuration backup to restore.
Sheet {
    id: sheet

    required property AppModel appModel

    objectName: "scopeSheet"
    width: 600
    visible: sheet.appModel.backups.scopePicker.shown

    Text {
        text: "选择配置恢复范围"
        font.pixelSize: Theme.title2
        font.bold: true
        color: Theme.text
    }
    Text {
        width: parent.width
        text: "仅覆盖所选的原路径，不改写账号或角色名。账号级恢复包含共享 SavedVariables，会影响该账号下其他角色；角色级恢复保留账号共享配置，可能无法单独还原插件的全部设置。"
        wrapMode: Text.Wrap
        font.pixelSize: Theme.callout
        color: Theme.secondaryText
    }
    Rectangle {
        width: parent.width
        height: 260
        radius: 8
        color: Theme.cardBackground
        border.width: 1
        border.color: Theme.cardBorder

        ListView {
            id: scopeList

            objectName: "scopeList"
            anchors.fill: parent
            anchors.margins: 4
            clip: true
            spacing: 2
            boundsBehavior: Flickable.StopAtBounds
            model: sheet.appModel.backups.scopePicker.scopes
            ScrollIndicator.vertical: ScrollIndicator {
            }
            delegate: Rectangle {
                id: scopeRow

                required property string relativePath
                required property string title
                required property bool selected

                objectName: "scopeRow"
                width: scopeList.width
                height: 30
                radius: 6
                color: scopeRow.selected ? Theme.accent : (hover.hovered ? Theme.hover : "transparent")
                Accessible.role: Accessible.ListItem
                Accessible.name: scopeRow.title
                Accessible.selected: scopeRow.selected

                HoverHandler {
                    id: hover
                }
                TapHandler {
                    onTapped: sheet.appModel.backups.scopePicker.selection = scopeRow.relativePath
                }
                Text {
                    objectName: "scopeTitle"
                    anchors.left: parent.left
                    anchors.leftMargin: 10
                    anchors.right: parent.right
                    anchors.rightMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    text: scopeRow.title
                    textFormat: Text.PlainText
                    elide: Text.ElideMiddle
                    font.pixelSize: Theme.body
                    color: scopeRow.selected ? "white" : Theme.text
                }
            }
        }
    }
    Caption {
        text: "将先备份当前整个 WTF。其他路径保留；跨角色改名迁移暂不支持。"
    }
    Item {
        width: parent.width
        height: confirmButton.height

        Row {
            anchors.right: parent.right
            spacing: 10

            PlainButton {
                objectName: "cancelScopeButton"
                text: "取消"
                onClicked: sheet.appModel.dismissCandidates()
            }
            PlainButton {
                id: confirmButton

                objectName: "confirmScopeButton"
                text: "备份并恢复所选范围"
                prominent: true
                enabled: sheet.appModel.backups.scopePicker.hasSelection
                onClicked: sheet.appModel.backups.confirmScope()
            }
        }
    }
}
