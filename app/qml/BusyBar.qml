import QtQuick
import QtQuick.Controls.Basic
import Olvex

// Floats over the bottom of the window while the model is busy and says what it is doing.
Rectangle {
    id: bar

    required property AppModel appModel

    objectName: "busyBar"
    visible: bar.appModel.busy
    implicitWidth: content.implicitWidth + 32
    implicitHeight: 40
    radius: 10
    color: "#F2FFFFFF"
    border.width: 1
    border.color: Theme.divider

    Row {
        id: content

        anchors.centerIn: parent
        spacing: 10

        BusyIndicator {
            width: 18
            height: 18
            running: bar.visible
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "busyText"
            text: bar.appModel.busyText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
            color: Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
