import QtQuick
import QtQuick.Controls

// A modal sheet over the window. Only its own buttons close it: neither Esc nor a click
// outside does, since each sheet waits for an explicit decision. It takes the keyboard focus
// when it opens, so that Tab walks its controls rather than the window's behind it.
Popup {
    id: sheet

    default property alias content: column.data

    anchors.centerIn: Overlay.overlay
    modal: true
    closePolicy: Popup.NoAutoClose
    focus: true
    padding: 24
    font.pixelSize: Theme.body

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }
    background: Rectangle {
        radius: 12
        color: Theme.windowBackground
        border.width: 1
        border.color: Theme.divider
    }
    contentItem: Column {
        id: column

        spacing: 16
    }
}
