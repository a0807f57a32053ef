pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The backups of the selected folder: manual backup, import, thinning and bringing back, and
// one row per backup with its menu of restore, scope picker, export and recycle.
SectionBox {
    id: section

    required property AppModel appModel

    objectName: "backupSection"
    spacing: 14

    Item {
        width: parent.width
        height: backupButtons.height

        SectionHeading {
            text: "本地备份"
            iconName: "document-open-recent"
            anchors.verticalCenter: parent.verticalCenter
        }
        Row {
            id: backupButtons

            anchors.right: parent.right
            spacing: 8

            PlainButton {
                objectName: "backupButton"
                text: "备份 WTF"
                icon.name: "document-save-as"
                enabled: section.appModel.folders.hasSelection && section.appModel.folders.gameClosed
                onClicked: section.appModel.backups.backup()
            }
            PlainButton {
                objectName: "revealBackupsButton"
                text: "在" + PlatformWords.fileBrowser + "中查看"
                icon.name: "document-open-folder"
                enabled: section.appModel.folders.hasSelection
                onClicked: section.appModel.backups.revealBackups()
            }
        }
    }
    Caption {
        text: "WTF 保存账号、角色及插件配置。恢复会先备份当前状态，再替换整个对应目录。"
    }
    SettingsHealthBox {
        width: parent.width
        appModel: section.appModel
    }
    Row {
        spacing: 8

        PlainButton {
            objectName: "importWtfButton"
            text: "导入 WTF…"
            icon.name: "document-import"
            enabled: section.appModel.folders.hasSelection && section.appModel.folders.gameClosed
            onClicked: section.appModel.backups.chooseConfiguration()
        }
        PlainButton {
            id: manageButton

            objectName: "manageBackupsButton"
            text: "备份管理"
            icon.name: "overflow-menu"
            enabled: section.appModel.folders.hasSelection
            onClicked: manageMenu.open()

            AppMenu {
                id: manageMenu

                y: manageButton.height + 4

                AppMenuItem {
                    objectName: "retainRecentItem"
                    text: "每类保留最近 5 份"
                    enabled: !section.appModel.folders.pendingRecovery
                    onTriggered: section.appModel.backups.retainRecent()
                }
                AppMenuItem {
                    objectName: "recoverRecycledItem"
                    text: "恢复已移除的备份"
                    onTriggered: section.appModel.backups.recoverRecycled()
                }
            }
        }
    }
    Caption {
        text: "导出后可跨电脑迁移 WTF。移除与保留策略均移入可恢复区；待恢复事务存在时禁止清理。"
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        objectName: "noBackupsText"
        visible: section.appModel.backups.list.count === 0
        topPadding: 12
        bottomPadding: 12
        text: "暂无备份"
        font.pixelSize: Theme.body
        color: Theme.secondaryText
    }

    Repeater {
        model: section.appModel.backups.list
        delegate: Column {
            id: backupRow

            required property string backupId
            required property string heading
            required property string reason
            required property string size
            required property bool isConfiguration
            required property string symbol
            required property string label

            objectName: "backupRow"
            width: section.width - 2 * section.padding
            spacing: 5

            Item {
                width: parent.width
                height: Math.max(rowTexts.height, actionsButton.height) + 5

                ThemeIcon {
                    id: kindIcon

                    name: backupRow.symbol
                    size: 22
                    color: Theme.accent
                    anchors.verticalCenter: parent.verticalCenter
                }
                Column {
                    id: rowTexts

                    anchors.left: kindIcon.right
                    anchors.leftMargin: 10
                    anchors.right: actionsButton.left
                    anchors.rightMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2

                    Text {
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        objectName: "backupHeading"
                        width: parent.width
                        text: backupRow.heading
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font.pixelSize: Theme.headline
                        font.bold: true
                        color: Theme.text
                    }
                    Caption {
                        text: backupRow.reason
                    }
                    Caption {
                        objectName: "backupSize"
                        text: backupRow.size
                    }
                }
                PlainButton {
                    id: actionsButton

                    objectName: "backupActionsButton"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: "操作"
                    Accessible.name: "操作：" + backupRow.label
                    onClicked: actions.open()

                    AppMenu {
                        id: actions

                        y: actionsButton.height + 4
                        x: actionsButton.width - width

                        AppMenuItem {
                            objectName: "restoreItem"
                            text: "恢复…"
                            enabled: section.appModel.folders.gameClosed
                            onTriggered: section.appModel.backups.setRestoreCandidate(backupRow.backupId)
                        }
                        AppMenuItem {
                            objectName: "chooseScopeItem"
                            text: "选择账号 / 角色或插件恢复…"
                            visible: backupRow.isConfiguration
                            height: backupRow.isConfiguration ? implicitHeight : 0
                            enabled: section.appModel.folders.gameClosed
                            onTriggered: section.appModel.backups.chooseScope(backupRow.backupId)
                        }
                        AppMenuItem {
                            objectName: "exportItem"
                            text: "导出…"
                            onTriggered: section.appModel.backups.exportBackup(backupRow.backupId)
                        }
                        AppMenuItem {
                            objectName: "recycleItem"
                            text: "移入可恢复区…"
                            destructive: true
                            enabled: !section.appModel.folders.pendingRecovery
                            onTriggered: section.appModel.backups.setRecycleCandidate(backupRow.backupId)
                        }
                    }
                }
            }
            Rectangle {
                width: parent.width
                height: 1
                color: Theme.divider
            }
        }
    }

    Caption {
        objectName: "backupStoreText"
        visible: text !== ""
        topPadding: 8
        text: section.appModel.backups.storeText
    }
}
