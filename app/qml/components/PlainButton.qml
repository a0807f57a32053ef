import QtQuick
import Olvex
import QtQuick.Controls.Basic

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
    font.pixelSize: Theme.body
    hoverEnabled: true
    icon.width: 16
    icon.height: 16
    icon.color: control.prominent ? "white" : Theme.text
    Accessible.name: control.text
    // An assistive technology's "press" reaches the same handler as a click.
    Accessible.onPressAction: control.clicked()
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    // A row of its own rather than IconLabel: the label may carry a name read from a pack,
    // and it must always be drawn as plain text.
    contentItem: Row {
        spacing: 7
        opacity: control.enabled ? 1 : 0.4

        ThemeIcon {
            visible: control.icon.name !== ""
            name: control.icon.name
            size: control.icon.width
            color: control.icon.color
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            Accessible.ignored: true // the control names itself
            text: control.text
            textFormat: Text.PlainText
            font: control.font
            color: control.prominent ? "white" : Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    background: Rectangle {
        radius: 7
        color: control.prominent && control.destructive ? (control.down ? Qt.darker(Theme.danger, 1.15) : Theme.danger) : control.prominent ? (control.down ? Theme.accentPressed : (control.hovered ? Theme.accentHover : Theme.accent)) : (control.down ? Theme.controlPressed : (control.hovered ? Theme.controlHover : (control.borderless ? "transparent" : Theme.controlBackground)))
        opacity: control.prominent && !control.enabled ? 0.45 : 1
        border.width: control.visualFocus ? 2 : (control.borderless || control.prominent ? 0 : 1)
        border.color: control.visualFocus ? Theme.focusRing : Theme.controlBorder
        border.pixelAligned: true
    }
}
