import QtQuick

// One version folder in the sidebar: its title over the name of the game folder holding it and
// how it was found (which launcher keeps it, or picked by hand).
Rectangle {
    id: row

    required property int index
    required property string clientId
    required property string title
    required property string gameFolder
    required property string source
    required property bool selected

    signal chosen(string clientId)

    objectName: "clientRow"
    Accessible.role: Accessible.ListItem
    Accessible.name: row.title + " " + row.gameFolder + " " + row.source
    Accessible.selected: row.selected
    Accessible.selectable: true
    Accessible.focusable: true
    Accessible.focused: row.ListView.isCurrentItem && row.ListView.view.activeFocus
    Accessible.onPressAction: row.chosen(row.clientId)
    border.width: row.ListView.isCurrentItem && row.ListView.view.activeFocus ? 2 : 0
    border.color: Theme.focusRing
    // The keyboard's place in the list starts at the chosen row and follows it.
    onSelectedChanged: if (row.selected) row.ListView.view.currentIndex = row.index
    Component.onCompleted: if (row.selected) row.ListView.view.currentIndex = row.index
    implicitHeight: texts.implicitHeight + 2 * 5 + 8
    radius: 7
    color: row.selected ? Theme.accent : (hover.hovered ? Theme.hover : "transparent")

    HoverHandler {
        id: hover
    }
    TapHandler {
        onTapped: row.chosen(row.clientId)
    }

    Column {
        id: texts

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2

        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "rowTitle"
            width: parent.width
            text: row.title
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: Theme.headline
            font.bold: true
            color: row.selected ? "white" : Theme.text
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "rowSubtitle"
            width: parent.width
            text: row.gameFolder
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
            font.pixelSize: Theme.caption
            color: row.selected ? Theme.accentSoftText : Theme.secondaryText
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "rowSource"
            width: parent.width
            text: row.source
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: Theme.caption
            color: row.selected ? Theme.accentSoftText : Theme.secondaryText
        }
    }
}
