import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The settings window: where backups live, what stays on this machine, and the version.
Window {
    id: settings

    objectName: "settingsWindow"
    title: "设置"
    width: 430
    height: column.implicitHeight + 48
    minimumWidth: 430
    maximumWidth: 430
    minimumHeight: height
    maximumHeight: height
    flags: Qt.Dialog
    color: Theme.windowBackground

    Shortcut {
        sequence: "Esc"
        onActivated: settings.close()
    }

    Column {
        id: column

        x: 24
        y: 24
        width: settings.width - 48
        spacing: 14

        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            text: "本地优先，中文原生"
            font.pixelSize: Theme.title2
            font.bold: true
            color: Theme.text
        }
        SelectableText {
            text: "备份保存在各版本目录的 .olvex-manager/backups。配置可能含账号和角色信息，请妥善保存。"
            font.pixelSize: Theme.body
            color: Theme.text
        }
        SelectableText {
            text: "CurseForge 与 Wago 尚未作为授权下载来源接入；" + PlatformWords.cloudSync + "尚未实现。"
            font.pixelSize: Theme.body
            color: Theme.text
        }
        SelectableText {
            text: "本版本不联网，也不收集使用数据。操作日志仅保存在本机，可手动导出。"
            font.pixelSize: Theme.body
            color: Theme.text
        }
        Caption {
            objectName: "versionText"
            text: "版本 " + Qt.application.version
        }
    }
}
