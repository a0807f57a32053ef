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

        y: -implicitHeight - 6
        width: Math.max(button.width, 400)
        padding: 5
        font.family: Theme.fontFamily
        font.pixelSize: Theme.body

        background: Rectangle {
            radius: 9
            color: Theme.controlBackground
            border.width: 1
            border.color: Theme.divider
        }

        Instantiator {
            model: button.appModel.savedRoots
            delegate: MenuItem {
                id: item

                required property string modelData

                implicitHeight: 30
                text: "移除：" + modelData
                font: menu.font
                onTriggered: button.appModel.forgetRoot(modelData)

                contentItem: Text {
                    leftPadding: 6
                    text: item.text
                    font: item.font
                    elide: Text.ElideMiddle
                    verticalAlignment: Text.AlignVCenter
                    color: item.highlighted ? "white" : Theme.text
                }
                background: Rectangle {
                    radius: 6
                    color: item.highlighted ? Theme.accent : "transparent"
                }
            }
            onObjectAdded: (index, object) => menu.insertItem(index, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
