pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQml.Models
import Olvex

// The menu "已保存的位置": one item per saved root, each forgetting that root.
PlainButton {
    id: button

    required property AppModel appModel

    objectName: "savedRootsButton"
    text: "已保存的位置"
    icon.name: "drive-harddisk"
    onClicked: menu.open()

    AppMenu {
        id: menu

        y: -implicitHeight - 6
        width: Math.max(button.width, 400)

        Instantiator {
            model: button.appModel.folders.savedRoots
            delegate: AppMenuItem {
                required property string modelData

                objectName: "forgetRootItem"
                text: "移除：" + modelData
                font: menu.font
                onTriggered: button.appModel.folders.forgetRoot(modelData)
            }
            onObjectAdded: (index, object) => menu.insertItem(index, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
