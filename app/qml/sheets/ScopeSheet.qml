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
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        text: "选择配置恢复范围"
        font.pixelSize: Theme.title2
        font.bold: true
        color: Theme.text
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
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
            Accessible.name: "恢复范围"
            // A list to the keyboard too: Up/Down/Home/End move, Enter or Space chooses.
            activeFocusOnTab: true
            keyNavigationEnabled: true
            Accessible.role: Accessible.List
            Keys.onPressed: event => {
                if (event.key === Qt.Key_Home || event.key === Qt.Key_End) {
                    scopeList.currentIndex = event.key === Qt.Key_Home ? 0 : scopeList.count - 1;
                    event.accepted = true;
                } else if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space) && scopeList.currentItem) {
                    sheet.appModel.backups.scopePicker.selection = scopeList.currentItem.relativePath;
                    event.accepted = true;
                }
            }
            ScrollIndicator.vertical: ScrollIndicator {
            }
            delegate: Rectangle {
                id: scopeRow

                required property string relativePath
                required property string title
                required property bool selected
                required property int index

                objectName: "scopeRow"
                width: scopeList.width
                height: 30
                radius: 6
                color: scopeRow.selected ? Theme.accent : (hover.hovered ? Theme.hover : "transparent")
                Accessible.role: Accessible.ListItem
                Accessible.name: scopeRow.title
                Accessible.selected: scopeRow.selected
                Accessible.selectable: true
                Accessible.focusable: true
                Accessible.focused: scopeRow.ListView.isCurrentItem && scopeList.activeFocus
                Accessible.onPressAction: sheet.appModel.backups.scopePicker.selection = scopeRow.relativePath
                border.width: scopeRow.ListView.isCurrentItem && scopeList.activeFocus ? 2 : 0
                border.color: Theme.focusRing
                onSelectedChanged: if (scopeRow.selected) scopeList.currentIndex = scopeRow.index
                Component.onCompleted: if (scopeRow.selected) scopeList.currentIndex = scopeRow.index

                HoverHandler {
                    id: hover
                }
                TapHandler {
                    onTapped: sheet.appModel.backups.scopePicker.selection = scopeRow.relativePath
                }
                Text {
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
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
