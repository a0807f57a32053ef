pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The install preview: what the pack holds, what it replaces and where it goes; the
// game-closed check; install or discard. Shown while the model holds a preview.
Sheet {
    id: sheet

    required property AppModel appModel

    objectName: "installSheet"
    width: 580
    visible: sheet.appModel.packs.preview.shown

    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        text: "确认安装整合包"
        font.pixelSize: Theme.title2
        font.bold: true
        color: Theme.text
    }
    SelectableText {
        objectName: "previewArchiveName"
        width: parent.width
        text: sheet.appModel.packs.preview.archiveName
        font.pixelSize: Theme.body
        color: Theme.text
    }
    Column {
        width: parent.width
        spacing: 4
        visible: sheet.appModel.packs.preview.packLine !== ""

        SelectableText {
            objectName: "previewPackLine"
            width: parent.width
            text: sheet.appModel.packs.preview.packLine
            font.pixelSize: Theme.body
            color: Theme.text
        }
        Caption {
            objectName: "previewSourceLine"
            text: sheet.appModel.packs.preview.sourceLine
        }
    }
    Caption {
        objectName: "previewRetiredLine"
        visible: text !== ""
        text: sheet.appModel.packs.preview.retiredLine
        color: Theme.accent
    }
    SelectableText {
        objectName: "previewTargetLine"
        width: parent.width
        text: sheet.appModel.packs.preview.targetLine
        font.pixelSize: Theme.body
        color: Theme.text
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        objectName: "previewCountLine"
        text: sheet.appModel.packs.preview.countLine
        textFormat: Text.PlainText
        font.pixelSize: Theme.body
        font.bold: true
        color: Theme.text
    }
    Rectangle {
        width: parent.width
        height: Math.min(180, addonList.contentHeight + 2)
        radius: 8
        color: Theme.cardBackground
        border.width: 1
        border.color: Theme.cardBorder

        ListView {
            id: addonList

            objectName: "previewAddonList"
            anchors.fill: parent
            anchors.margins: 1
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: sheet.appModel.packs.preview.addons
            ScrollIndicator.vertical: ScrollIndicator {
            }
            delegate: Item {
                id: previewRow

                required property string name
                required property string status

                objectName: "previewAddonRow"
                width: addonList.width
                height: 28

                Text {
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    anchors.left: parent.left
                    anchors.leftMargin: 12
                    anchors.right: statusText.left
                    anchors.rightMargin: 8
                    anchors.verticalCenter: parent.verticalCenter
                    text: previewRow.name
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.pixelSize: Theme.body
                    color: Theme.text
                }
                Text {
                    id: statusText

                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    anchors.right: parent.right
                    anchors.rightMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    text: previewRow.status
                    font.pixelSize: Theme.callout
                    color: Theme.secondaryText
                }
            }
        }
    }
    Caption {
        text: "安装前备份整个 AddOns。安装保留其他插件，不导入 WTF；首次安装无旧目录时不产生空备份。"
        font.pixelSize: Theme.callout
        color: Theme.text
    }
    CheckBox {
        id: closedCheck

        objectName: "sheetGameClosedCheck"
        width: parent.width
        text: "我已退出游戏，并确认此包适用于所选版本"
        checked: sheet.appModel.folders.gameClosed
        onCheckedChanged: sheet.appModel.folders.gameClosed = closedCheck.checked
        font: sheet.font
        Accessible.name: closedCheck.text
    }
    ProgressRow {
        width: parent.width
        visible: sheet.appModel.operation.busy
        operation: sheet.appModel.operation
        text: sheet.appModel.operation.operationText
        stageObjectName: "sheetStageText"
        cancelObjectName: "sheetCancelOperationButton"
        barWidth: 140
    }
    SelectableText {
        objectName: "sheetError"
        width: parent.width
        visible: sheet.appModel.operation.hasError
        text: sheet.appModel.operation.error
        color: Theme.danger
    }
    Item {
        width: parent.width
        height: installButton.height

        Row {
            anchors.right: parent.right
            spacing: 10

            PlainButton {
                objectName: "cancelPreviewButton"
                text: "取消"
                enabled: !sheet.appModel.operation.busy
                onClicked: sheet.appModel.packs.cancelPreview()
            }
            PlainButton {
                id: installButton

                objectName: "installButton"
                text: "备份并安装"
                prominent: true
                enabled: sheet.appModel.folders.gameClosed && !sheet.appModel.operation.busy
                onClicked: sheet.appModel.packs.install()
            }
        }
    }
}
