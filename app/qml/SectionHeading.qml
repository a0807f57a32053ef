import QtQuick
import QtQuick.Controls.impl

// The heading of a section: a theme icon and a bold title.
Row {
    id: heading

    property alias text: label.text
    property alias iconName: icon.name
    property color iconColor: Theme.text
    property int pixelSize: Theme.title3

    spacing: 8

    IconImage {
        id: icon

        sourceSize: Qt.size(20, 20)
        color: heading.iconColor
        anchors.verticalCenter: parent.verticalCenter
    }
    Text {
        id: label

        textFormat: Text.PlainText
        font.family: Theme.fontFamily
        font.pixelSize: heading.pixelSize
        font.bold: true
        color: Theme.text
        anchors.verticalCenter: parent.verticalCenter
    }
}
