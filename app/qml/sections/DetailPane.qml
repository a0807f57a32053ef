import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The detail column: the selected folder's header, the game-closed check,
// the recovery box, the pack, add-on and backup sections, the two cards and the status line.
Rectangle {
    id: pane

    required property AppModel appModel

    color: Theme.windowBackground

    ScrollView {
        id: scroll

        objectName: "detailScroll"
        anchors.fill: parent
        contentWidth: availableWidth

        // Plain positioners here: wrapped text inside nested layouts makes the layout
        // engine chase its own width.
        Column {
            x: 28
            y: 28
            width: scroll.availableWidth - 56
            spacing: 22

            Item {
                width: parent.width
                height: heading.height

                Column {
                    id: heading

                    anchors.left: parent.left
                    anchors.right: spinner.left
                    anchors.rightMargin: 16
                    spacing: 7

                    Text {
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        objectName: "headerTitle"
                        width: parent.width
                        text: pane.appModel.folders.headerTitle
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font.pixelSize: Theme.largeTitle
                        font.bold: true
                        color: Theme.text
                    }
                    SelectableText {
                        objectName: "headerSubtitle"
                        text: pane.appModel.folders.headerSubtitle
                        font.pixelSize: Theme.callout
                    }
                }
                Spinner {
                    id: spinner

                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.topMargin: 10
                    width: 18
                    height: 18
                    running: pane.appModel.operation.busy
                }
            }

            SectionBox {
                width: parent.width

                CheckBox {
                    id: closedCheck

                    objectName: "gameClosedCheck"
                    width: parent.width
                    text: "我已完全退出魔兽世界（安装、备份和恢复前必须确认）"
                    checked: pane.appModel.folders.gameClosed
                    // Checked however it is ticked: a click, Space, or an assistive technology's toggle.
                    onCheckedChanged: pane.appModel.folders.gameClosed = closedCheck.checked
                    font.pixelSize: Theme.body
                    ToolTip.visible: closedCheck.hovered || closedCheck.visualFocus
                    ToolTip.delay: 600
                    ToolTip.text: closedCheck.Accessible.description
                    Accessible.name: closedCheck.text
                    Accessible.description: "安装整合包、备份 WTF、恢复备份（整目录或所选范围）、导入配置、清理旧整合包插件和恢复中断的操作前都须勾选。"
                }
            }

            RecoveryBox {
                width: parent.width
                visible: pane.appModel.folders.hasAttention
                appModel: pane.appModel
            }

            PackImportSection {
                width: parent.width
                appModel: pane.appModel
            }
            AddonSection {
                width: parent.width
                appModel: pane.appModel
            }
            BackupSection {
                width: parent.width
                appModel: pane.appModel
            }

            Row {
                width: parent.width
                spacing: 12

                InfoCard {
                    width: (parent.width - parent.spacing) / 2
                    title: "授权整合包源"
                    iconName: "network-workgroup"
                    caption: "CurseForge 与 Wago 尚未作为授权下载来源接入。"
                }
                InfoCard {
                    width: (parent.width - parent.spacing) / 2
                    title: PlatformWords.cloudSync
                    iconName: "folder-cloud"
                    caption: "预留接口，尚未实现"
                }
            }

            Item {
                width: parent.width
                height: status.height + (oldFiles.visible ? oldFiles.height + 8 : 0) + 28

                ThemeIcon {
                    name: "dialog-information"
                    size: 16
                    color: Theme.secondaryText
                    y: 1
                }
                Text {
                    id: status

                    objectName: "statusLine"
                    // Announced when it changes: assistive technology follows a status bar's name.
                    Accessible.role: Accessible.StatusBar
                    Accessible.name: status.text
                    x: 22
                    width: parent.width - 22
                    text: pane.appModel.operation.message
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.pixelSize: Theme.callout
                    color: Theme.secondaryText
                }
                // Replaced files that could not be deleted: said until the next operation starts,
                // with the paths selectable so that the player can look for them.
                SelectableText {
                    id: oldFiles

                    objectName: "oldFilesText"
                    visible: pane.appModel.folders.hasOldFiles
                    x: 22
                    y: status.height + 8
                    width: parent.width - 22
                    text: pane.appModel.folders.oldFilesText
                    color: Theme.accent
                }
            }
        }
    }
}
