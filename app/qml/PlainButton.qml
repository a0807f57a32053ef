import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Controls.impl

// A push button with an optional leading icon from the desktop's icon theme (`icon.name`).
// `prominent` fills it with the accent colour for the one main action of a place, or with red
// when the action is also `destructive`.
Button {
    id: control

    property bool prominent: false
    property bool destructive: false
    property bool borderless: false

    implicitHeight: 30
    leftPadding: 12
    rightPadding: 12
    font.family: Theme.fontFamily
    font.pixelSize: Theme.body
    hoverEnabled: true
    icon.width: 16
    icon.height: 16
    icon.color: control.prominent ? "white" : Theme.text
    Accessible.name: control.text

    contentItem: IconLabel {
        spacing: 7
        mirrored: control.mirrored
        display: control.display
        icon: control.icon
        text: control.text
        font: control.font
        color: control.prominent ? "white" : Theme.text
        opacity: control.enabled ? 1 : 0.4
    }

    background: Rectangle {
        radius: 7
        color: control.prominent && control.destructive ? (control.down ? Qt.darker(Theme.danger, 1.15) : Theme.danger) : control.prominent ? (control.down ? Theme.accentPressed : (control.hovered ? Theme.accentHover : Theme.accent)) : (control.down ? Theme.controlPressed : (control.hovered ? Theme.controlHover : (control.borderless ? "transparent" : Theme.controlBackground)))
        opacity: control.prominent && !control.enabled ? 0.45 : 1
        border.width: control.borderless || control.prominent ? 0 : 1
        border.color: Theme.controlBorder
        border.pixelAligned: true
    }
}
