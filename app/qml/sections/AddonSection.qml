pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The installed add-ons: the managed packs, the add-ons newer pack releases dropped, the
// search field and one row per add-on that matches it.
SectionBox {
    id: section

    required property AppModel appModel

    objectName: "addonSection"

    SectionHeading {
        objectName: "addonHeading"
        text: section.appModel.addons.heading
        iconName: "view-list-details"
    }

    Repeater {
        model: section.appModel.packs.installed
        delegate: Column {
            required property string heading
            required property string caption

            objectName: "packRow"
            width: section.width - 2 * section.padding
            spacing: 4

            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                objectName: "packHeading"
                width: parent.width
                text: parent.heading
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font.pixelSize: Theme.headline
                font.bold: true
                color: Theme.text
            }
            Caption {
                text: parent.caption
            }
        }
    }

    Repeater {
        model: section.appModel.packs.retired
        delegate: Item {
            id: retiredRow

            required property string retiredId
            required property string name
            required property string caption
            required property bool canRemove

            objectName: "retiredRow"
            width: section.width - 2 * section.padding
            height: Math.max(retiredText.implicitHeight, cleanButton.visible ? cleanButton.height : 0)

            Caption {
                id: retiredText

                objectName: "retiredText"
                anchors.left: parent.left
                anchors.right: cleanButton.visible ? cleanButton.left : parent.right
                anchors.rightMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                width: undefined
                text: retiredRow.caption
            }
            PlainButton {
                id: cleanButton

                objectName: "cleanRetiredButton"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                visible: retiredRow.canRemove
                text: "清理…"
                Accessible.name: "清理：" + retiredRow.name
                enabled: section.appModel.folders.gameClosed
                onClicked: section.appModel.packs.setRetiredCandidate(retiredRow.retiredId)
            }
        }
    }

    TextField {
        id: search

        objectName: "addonSearch"
        width: parent.width
        placeholderText: "搜索名称、目录或作者"
        text: section.appModel.addons.query
        onTextEdited: section.appModel.addons.query = search.text
        font.pixelSize: Theme.body
        leftPadding: 10
        selectByMouse: true
        Accessible.name: "搜索插件"
        background: Rectangle {
            implicitHeight: 30
            radius: 7
            color: Theme.controlBackground
            border.width: search.activeFocus ? 2 : 1
            border.color: search.activeFocus ? Theme.accent : Theme.controlBorder
        }
    }
    Caption {
        text: "版本信息来自本地 TOC，不代表在线更新状态；未声明信息的目录也会列出。"
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        objectName: "noAddonsText"
        visible: !section.appModel.addons.hasAddons
        text: "暂无本地插件"
        font.pixelSize: Theme.body
        color: Theme.secondaryText
    }

    Repeater {
        model: section.appModel.addons
        delegate: Column {
            id: addonRow

            required property string title
            required property string details
            required property string dependencies
            required property string path

            objectName: "addonRow"
            width: section.width - 2 * section.padding
            spacing: 8

            Item {
                width: parent.width
                height: Math.max(texts.height, openButton.height)

                Column {
                    id: texts

                    anchors.left: parent.left
                    anchors.right: openButton.left
                    anchors.rightMargin: 12
                    spacing: 4

                    Text {
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        objectName: "addonTitle"
                        width: parent.width
                        text: addonRow.title
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font.pixelSize: Theme.headline
                        font.bold: true
                        color: Theme.text
                    }
                    SelectableText {
                        objectName: "addonDetails"
                        text: addonRow.details
                    }
                    SelectableText {
                        text: addonRow.dependencies
                    }
                }
                PlainButton {
                    id: openButton

                    objectName: "openAddonButton"
                    anchors.right: parent.right
                    anchors.top: parent.top
                    text: "打开目录"
                    icon.name: "document-open-folder"
                    Accessible.name: "打开目录：" + addonRow.title
                    onClicked: section.appModel.folders.revealFolder(addonRow.path)
                }
            }
            Rectangle {
                width: parent.width
                height: 1
                color: Theme.divider
            }
        }
    }
}
