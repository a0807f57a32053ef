import QtQuick
import QtQuick.Controls.Basic

// One entry of an AppMenu. `destructive` marks an entry that sets something aside or replaces it.
MenuItem {
    id: item

    property bool destructive: false

    implicitHeight: 30
    Accessible.name: item.text
    Accessible.role: Accessible.MenuItem
    // Qt 6.4 offers a menu item's "press" to assistive technology without triggering it.
    Accessible.onPressAction: {
        if (item.enabled) {
            item.triggered();
            item.menu.dismiss();
        }
    }

    contentItem: Text {
        Accessible.ignored: true // the control names itself
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
