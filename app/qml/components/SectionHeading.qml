import QtQuick
import Olvex

// The heading of a section: a theme icon and a bold title.
Row {
    id: heading

    property alias text: label.text
    property alias iconName: icon.name
    property color iconColor: Theme.text
    property int pixelSize: Theme.title3

    spacing: 8

    ThemeIcon {
        id: icon

        size: 20
        color: heading.iconColor
        anchors.verticalCenter: parent.verticalCenter
    }
    Text {
        id: label

        Accessible.role: Accessible.StaticText
        Accessible.name: text
        textFormat: Text.PlainText
        font.pixelSize: heading.pixelSize
        font.bold: true
        color: Theme.text
        anchors.verticalCenter: parent.verticalCenter
    }
}
