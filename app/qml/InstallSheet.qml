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
    visible: sheet.appModel.hasPreview

    Text {
        text: "确认安装整合包"
        font.family: Theme.fontFamily
        font.pixelSize: Theme.title2
        font.bold: true
        color: Theme.text
    }
    SelectableText {
        objectName: "previewArchiveName"
        width: parent.width
        text: sheet.appModel.previewArchiveName
        font.pixelSize: Theme.body
        color: Theme.text
    }
    Column {
        width: parent.width
        spacing: 4
        visible: sheet.appModel.previewPackLine !== ""

        SelectableText {
            objectName: "previewPackLine"
            width: parent.width
            text: sheet.appModel.previewPackLine
            font.pixelSize: Theme.body
            color: Theme.text
        }
        Caption {
            objectName: "previewSourceLine"
            text: sheet.appModel.previewSourceLine
        }
    }
    Caption {
        objectName: "previewRetiredLine"
        visible: text !== ""
        text: sheet.appModel.previewRetiredLine
        color: Theme.accent
    }
    SelectableText {
        objectName: "previewTargetLine"
        width: parent.width
        text: sheet.appModel.previewTargetLine
        font.pixelSize: Theme.body
        color: Theme.text
    }
    Text {
        objectName: "previewCountLine"
        text: sheet.appModel.previewCountLine
        font.family: Theme.fontFamily
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
            model: sheet.appModel.previewAddons
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
                    anchors.left: parent.left
                    anchors.leftMargin: 12
                    anchors.right: statusText.left
                    anchors.rightMargin: 8
                    anchors.verticalCenter: parent.verticalCenter
                    text: previewRow.name
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.body
                    color: Theme.text
                }
                Text {
                    id: statusText

                    anchors.right: parent.right
                    anchors.rightMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    text: previewRow.status
                    font.family: Theme.fontFamily
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
        checked: sheet.appModel.gameClosed
        onToggled: sheet.appModel.gameClosed = closedCheck.checked
        font: sheet.font
        Accessible.name: closedCheck.text
    }
    Row {
        width: parent.width
        spacing: 10
        visible: sheet.appModel.busy

        Spinner {
            width: 16
            height: 16
            running: parent.visible
            color: Theme.accent
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "sheetStageText"
            text: sheet.appModel.operationText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
            color: Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
        ProgressBar {
            visible: sheet.appModel.progress >= 0
            width: 140
            value: sheet.appModel.progress
            anchors.verticalCenter: parent.verticalCenter
            Accessible.name: "进度"
        }
        Text {
            visible: sheet.appModel.progress >= 0
            text: sheet.appModel.progressText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.callout
            color: Theme.secondaryText
            anchors.verticalCenter: parent.verticalCenter
        }
        PlainButton {
            objectName: "sheetCancelOperationButton"
            visible: sheet.appModel.canCancel
            text: "取消操作"
            onClicked: sheet.appModel.cancelOperation()
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    SelectableText {
        objectName: "sheetError"
        width: parent.width
        visible: sheet.appModel.hasError
        text: sheet.appModel.error
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
                enabled: !sheet.appModel.busy
                onClicked: sheet.appModel.cancelPreview()
            }
            PlainButton {
                id: installButton

                objectName: "installButton"
                text: "备份并安装"
                prominent: true
                enabled: sheet.appModel.gameClosed && !sheet.appModel.busy
                onClicked: sheet.appModel.install()
            }
        }
    }
}
