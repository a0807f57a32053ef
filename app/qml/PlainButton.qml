import QtQuick
import QtQuick.Controls.Basic

// A bordered push button with an optional leading symbol.
Button {
    id: control

    property string symbol
    property bool borderless: false

    implicitHeight: 30
    leftPadding: 12
    rightPadding: 12
    font.family: Theme.fontFamily
    font.pixelSize: Theme.body
    hoverEnabled: true

    contentItem: Row {
        spacing: 7
        opacity: control.enabled ? 1 : 0.4

        SymbolIcon {
            visible: control.symbol !== ""
            name: control.symbol
            color: Theme.text
            width: 15
            height: 15
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: control.text
            font: control.font
            color: Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    background: Rectangle {
        radius: 7
        color: control.down ? Theme.controlPressed : (control.hovered ? "#F6F4F1" : (control.borderless ? "transparent" : Theme.controlBackground))
        border.width: control.borderless ? 0 : 1
        border.color: Theme.controlBorder
    }
}
