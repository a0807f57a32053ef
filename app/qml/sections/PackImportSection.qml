import QtQuick
import Olvex

// Importing a local pack: what happens, and the button that starts the preview.
SectionBox {
    id: section

    required property AppModel appModel

    objectName: "packSection"
    spacing: 14

    SectionHeading {
        text: "本地整合包"
        iconName: "package"
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        width: parent.width
        text: "导入你已合法获取的 ZIP。预览插件清单后安装，同名插件会完整替换，安装前自动备份。"
        wrapMode: Text.Wrap
        font.pixelSize: Theme.body
        color: Theme.secondaryText
    }
    PlainButton {
        objectName: "chooseZipButton"
        text: "选择 ZIP 并预览…"
        icon.name: "document-import"
        prominent: true
        enabled: section.appModel.folders.hasSelection
        onClicked: section.appModel.packs.chooseZIP()
    }
    Caption {
        text: "ZIP 中的 WTF 不会写入游戏。请核对整合包适用的游戏版本，程序无法保证插件兼容性。"
    }
}
