import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The main window: the sidebar of version folders beside the detail column. It shows the model
// and calls its commands; it keeps no state of its own beyond layout.
ApplicationWindow {
    id: window

    required property AppModel appModel

    title: "Kelvarn · Tarnel"
    width: 1050
    height: 740
    minimumWidth: 900
    minimumHeight: 650
    visible: true
    color: Theme.windowBackground
    font.family: Theme.fontFamily
    font.pixelSize: Theme.body

    SplitView {
        anchors.fill: parent
        enabled: !window.appModel.busy
        orientation: Qt.Horizontal

        handle: Item {
            implicitWidth: 1
        }

        Sidebar {
            appModel: window.appModel
            SplitView.preferredWidth: 250
            SplitView.minimumWidth: 220
            SplitView.maximumWidth: 380
        }
        DetailPane {
            appModel: window.appModel
            SplitView.fillWidth: true
        }
    }

    BusyBar {
        appModel: window.appModel
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 18
    }

    // The first scan starts as soon as the window exists.
    Component.onCompleted: window.appModel.scan()
}
