pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// A framed list to choose one row from, by mouse, keyboard (Up/Down/Home/End move, Enter or
// Space chooses) or an assistive technology's press. Each row of `model` has a `title`, a
// `selected` flag, an optional `caption` drawn on its right, and its key in the role `keyRole`,
// which `chosen` hands back.
Rectangle {
    id: frame

    property alias model: list.model
    property string keyRole
    property string listName
    property alias listObjectName: list.objectName
    property string rowObjectName
    property string titleObjectName

    signal chosen(string key)

    radius: 8
    color: Theme.cardBackground
    border.width: 1
    border.color: Theme.cardBorder

    ListView {
        id: list

        anchors.fill: parent
        anchors.margins: 4
        clip: true
        spacing: 2
        boundsBehavior: Flickable.StopAtBounds
        activeFocusOnTab: true
        keyNavigationEnabled: true
        Accessible.role: Accessible.List
        Accessible.name: frame.listName
        Keys.onPressed: event => {
            if (event.key === Qt.Key_Home || event.key === Qt.Key_End) {
                list.currentIndex = event.key === Qt.Key_Home ? 0 : list.count - 1;
                event.accepted = true;
            } else if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space) && list.currentItem) {
                frame.chosen(list.currentItem.key);
                event.accepted = true;
            }
        }
        ScrollIndicator.vertical: ScrollIndicator {
        }
        delegate: Rectangle {
            id: choice

            required property var model
            required property int index
            readonly property string key: choice.model[frame.keyRole]
            readonly property string title: choice.model.title
            readonly property string caption: choice.model.caption ?? ""
            readonly property bool selected: choice.model.selected

            objectName: frame.rowObjectName
            width: list.width
            height: 30
            radius: 6
            color: choice.selected ? Theme.accent : (hover.hovered ? Theme.hover : "transparent")
            Accessible.role: Accessible.ListItem
            Accessible.name: choice.caption === "" ? choice.title : choice.title + "（" + choice.caption + "）"
            Accessible.selected: choice.selected
            Accessible.selectable: true
            Accessible.focusable: true
            Accessible.focused: choice.ListView.isCurrentItem && list.activeFocus
            Accessible.onPressAction: frame.chosen(choice.key)
            border.width: choice.ListView.isCurrentItem && list.activeFocus ? 2 : 0
            border.color: Theme.focusRing
            onSelectedChanged: if (choice.selected) list.currentIndex = choice.index
            Component.onCompleted: if (choice.selected) list.currentIndex = choice.index

            HoverHandler {
                id: hover
            }
            TapHandler {
                onTapped: frame.chosen(choice.key)
            }
            Text {
                Accessible.ignored: true // the row names itself
                objectName: frame.titleObjectName
                anchors.left: parent.left
                anchors.leftMargin: 10
                anchors.right: captionText.left
                anchors.rightMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                text: choice.title
                textFormat: Text.PlainText
                elide: Text.ElideMiddle
                font.pixelSize: Theme.body
                color: choice.selected ? "white" : Theme.text
            }
            Text {
                id: captionText

                Accessible.ignored: true
                anchors.right: parent.right
                anchors.rightMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                text: choice.caption
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                color: choice.selected ? "white" : Theme.secondaryText
            }
        }
    }
}
