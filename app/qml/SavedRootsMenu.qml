import QtQuick
import QtQuick.Controls.Basic
import QtQml.Models
import Olvex

// The menu "已保存的位置": one item per saved root, each forgetting that root.
PlainButton {
    id: button

    required property AppModel appModel

    text: "已保存的位置"
    symbol: "externaldrive"
    onClicked: menu.open()

    SymbolIcon {
        name: "chevron.down"
        color: Theme.secondaryText
        width: 12
        height: 12
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
    }

    Menu {
        id: menu

        y: -implicitHeight - 4
        width: Math.max(button.width, 380)
        font.family: Theme.fontFamily
        font.pixelSize: Theme.body

        Instantiator {
            model: button.appModel.savedRoots
            delegate: MenuItem {
                required property string modelData

                text: "移除：" + modelData
                onTriggered: button.appModel.forgetRoot(modelData)
            }
            onObjectAdded: (index, object) => menu.insertItem(index, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
