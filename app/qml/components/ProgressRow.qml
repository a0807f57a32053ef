import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The running operation in one row: a spinner, what it is doing, how far it has come where the
// step has a known size, and the cancel button while cancelling is possible. The busy bar and the
// install sheet both show it.
Row {
    id: progressRow

    required property OperationStatus operation
    // What the row says: the stage, in the wording of the place that shows it.
    property alias text: stage.text
    property alias stageObjectName: stage.objectName
    property alias cancelObjectName: cancelButton.objectName
    property alias cancelIconName: cancelButton.icon.name
    property int barWidth: 120
    // The busy bar also says that the window will close once the operation has ended.
    property bool showsQuitNotice: false

    spacing: 10

    Spinner {
        width: 16
        height: 16
        running: progressRow.visible
        color: Theme.accent
        anchors.verticalCenter: parent.verticalCenter
    }
    Text {
        id: stage

        Accessible.role: Accessible.StaticText
        Accessible.name: text
        font.pixelSize: Theme.body
        color: Theme.text
        anchors.verticalCenter: parent.verticalCenter
    }
    ProgressBar {
        objectName: "progressBar"
        visible: progressRow.operation.progress >= 0
        width: progressRow.barWidth
        from: 0
        to: 1
        value: progressRow.operation.progress
        anchors.verticalCenter: parent.verticalCenter
        Accessible.name: "进度"
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        objectName: "progressPercent"
        visible: progressRow.operation.progress >= 0
        text: progressRow.operation.progressText
        font.pixelSize: Theme.callout
        color: Theme.secondaryText
        anchors.verticalCenter: parent.verticalCenter
    }
    Text {
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        objectName: "quitNotice"
        visible: progressRow.showsQuitNotice && progressRow.operation.quitPending
        text: "操作结束后将自动退出。"
        font.pixelSize: Theme.callout
        color: Theme.accent
        anchors.verticalCenter: parent.verticalCenter
    }
    PlainButton {
        id: cancelButton

        visible: progressRow.operation.canCancel
        text: "取消操作"
        onClicked: progressRow.operation.cancelOperation()
        anchors.verticalCenter: parent.verticalCenter
    }
}
