import QtQuick
import QtQuick.Controls.Basic
import Olvex

// Floats over the bottom of the window while the model is busy: what it is doing, how far it
// has come where the step has a known size, and the cancel button while cancelling is possible.
Rectangle {
    id: bar

    required property AppModel appModel

    objectName: "busyBar"
    visible: bar.appModel.operation.busy
    implicitWidth: content.implicitWidth + 32
    implicitHeight: 44
    radius: 10
    color: "#F2FFFFFF"
    border.width: 1
    border.color: Theme.divider

    ProgressRow {
        id: content

        anchors.centerIn: parent
        operation: bar.appModel.operation
        text: bar.appModel.operation.busyText
        stageObjectName: "busyText"
        cancelObjectName: "cancelOperationButton"
        cancelIconName: "process-stop"
        showsQuitNotice: true
    }
}
