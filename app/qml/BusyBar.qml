import QtQuick
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

        Spinner {
            width: 16
            height: 16
            running: bar.visible
            color: Theme.accent
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
