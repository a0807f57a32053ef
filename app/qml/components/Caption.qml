import QtQuick

// A wrapped line of secondary text. Always plain text: what it shows may come from a pack.
Text {
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    width: parent ? parent.width : implicitWidth
    wrapMode: Text.Wrap
    textFormat: Text.PlainText
    font.pixelSize: Theme.caption
    color: Theme.secondaryText
}
