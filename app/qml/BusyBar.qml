import QtQuick
import QtQuick.Controls.Basic
import Olvex

// Floats over the bottom of the window while the model is busy: what it is doing, how far it
// has come where the step has a known size, and the cancel button while cancelling is possible.
Rectangle {
    id: bar

    required property AppModel appModel

    objectName: "busyBar"
    visible: bar.appModel.busy
    implicitWidth: content.implicitWidth + 32
    implicitHeight: 44
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
        ProgressBar {
            objectName: "busyProgress"
            visible: bar.appModel.progress >= 0
            width: 120
            from: 0
            to: 1
            value: bar.appModel.progress
            anchors.verticalCenter: parent.verticalCenter
            Accessible.name: "进度"
        }
        Text {
            objectName: "busyPercent"
            visible: bar.appModel.progress >= 0
            text: bar.appModel.progressText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.callout
            color: Theme.secondaryText
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "quitNotice"
            visible: bar.appModel.quitPending
            text: "操作结束后将自动退出。"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.callout
            color: Theme.accent
            anchors.verticalCenter: parent.verticalCenter
        }
        PlainButton {
            objectName: "cancelOperationButton"
            visible: bar.appModel.canCancel
            text: "取消操作"
            icon.name: "process-stop"
            onClicked: bar.appModel.cancelOperation()
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
