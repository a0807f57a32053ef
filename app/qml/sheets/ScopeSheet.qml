pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The scope picker: one account, realm or character of a configuration backup to restore, or
// (by add-on) one add-on's settings, everywhere or within one of them.
Sheet {
    id: sheet

    required property AppModel appModel
    readonly property ScopePicker picker: sheet.appModel.backups.scopePicker

    objectName: "scopeSheet"
    width: 600
    visible: sheet.picker.shown

    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        text: "选择配置恢复范围"
        font.pixelSize: Theme.title2
        font.bold: true
        color: Theme.text
    }
    Row {
        visible: sheet.picker.hasAddons
        spacing: 8

        PlainButton {
            objectName: "byScopeButton"
            text: "按账号 / 角色"
            prominent: !sheet.picker.byAddon
            Accessible.role: Accessible.RadioButton
            Accessible.checkable: true
            Accessible.checked: !sheet.picker.byAddon
            onClicked: sheet.picker.byAddon = false
        }
        PlainButton {
            objectName: "byAddonButton"
            text: "按插件"
            prominent: sheet.picker.byAddon
            Accessible.role: Accessible.RadioButton
            Accessible.checkable: true
            Accessible.checked: sheet.picker.byAddon
            onClicked: sheet.picker.byAddon = true
        }
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        objectName: "scopeExplanation"
        width: parent.width
        text: sheet.picker.explanation
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: Theme.callout
        color: Theme.secondaryText
    }
    ChoiceList {
        objectName: "addonChoices"
        visible: sheet.picker.byAddon
        width: parent.width
        height: 170
        model: sheet.picker.addons
        keyRole: "name"
        listName: "插件"
        listObjectName: "addonList"
        rowObjectName: "addonChoiceRow"
        titleObjectName: "addonChoiceTitle"
        onChosen: key => sheet.picker.addonSelection = key
    }
    ChoiceList {
        width: parent.width
        height: sheet.picker.byAddon ? 120 : 260
        model: sheet.picker.scopes
        keyRole: "relativePath"
        listName: sheet.picker.byAddon ? "插件配置的恢复范围" : "恢复范围"
        listObjectName: "scopeList"
        rowObjectName: "scopeRow"
        titleObjectName: "scopeTitle"
        onChosen: key => sheet.picker.selection = key
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
                text: sheet.picker.confirmText
                prominent: true
                enabled: sheet.picker.canConfirm
                onClicked: sheet.appModel.backups.confirmScope()
            }
        }
    }
}
