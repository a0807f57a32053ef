import QtQuick

// Read-only text the user can select and copy (paths, versions, messages). Plain text only.
TextEdit {
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    width: parent ? parent.width : implicitWidth
    readOnly: true
    selectByMouse: true
    wrapMode: TextEdit.Wrap
    textFormat: TextEdit.PlainText
    font.pixelSize: Theme.caption
    color: Theme.secondaryText
    selectionColor: Theme.accent
    selectedTextColor: "white"
    activeFocusOnPress: false
}
