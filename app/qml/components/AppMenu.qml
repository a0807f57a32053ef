import QtQuick
import QtQuick.Controls.Basic

// A drop-down menu in the window's style; its items are AppMenuItems.
Menu {
    id: menu

    padding: 5
    font.pixelSize: Theme.body

    background: Rectangle {
        implicitWidth: 220
        radius: 9
        color: Theme.controlBackground
        border.width: 1
        border.color: Theme.divider
    }
}
