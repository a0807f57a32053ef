import QtQuick
import QtQuick.Controls.Basic

// One entry of an AppMenu. `destructive` marks an entry that sets something aside or replaces it.
MenuItem {
    id: item

    property bool destructive: false

    implicitHeight: 30
    Accessible.name: item.text

    contentItem: Text {
        leftPadding: 6
        rightPadding: 6
        text: item.text
        textFormat: Text.PlainText
        font: item.font
        elide: Text.ElideMiddle
        verticalAlignment: Text.AlignVCenter
        opacity: item.enabled ? 1 : 0.4
        color: item.highlighted && item.enabled ? "white" : (item.destructive ? Theme.danger : Theme.text)
    }
    background: Rectangle {
        radius: 6
        color: item.highlighted && item.enabled ? (item.destructive ? Theme.danger : Theme.accent) : "transparent"
    }
}
