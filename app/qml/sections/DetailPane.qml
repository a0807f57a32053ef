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
                    onToggled: pane.appModel.folders.gameClosed = closedCheck.checked
                    font.pixelSize: Theme.body
                    Accessible.name: closedCheck.text
                }
            }

            RecoveryBox {
                width: parent.width
                visible: pane.appModel.folders.pendingRecovery
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
                    caption: "CurseForge 与 Wago 尚未接入，目前都不是授权的下载来源。"
                }
                InfoCard {
                    width: (parent.width - parent.spacing) / 2
                    title: "iCloud 同步"
                    iconName: "folder-cloud"
                    caption: "预留接口，尚未实现"
                }
            }

            Item {
                width: parent.width
                height: status.height + 28

                ThemeIcon {
                    name: "dialog-information"
                    size: 16
                    color: Theme.secondaryText
                    y: 1
                }
                Text {
                    id: status

                    objectName: "statusLine"
                    x: 22
                    width: parent.width - 22
                    text: pane.appModel.operation.message
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.pixelSize: Theme.callout
                    color: Theme.secondaryText
                }
            }
        }
    }
}
