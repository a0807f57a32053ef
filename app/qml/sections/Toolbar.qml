import QtQuick
import Olvex

// The window's toolbar. The log may be exported at any time; a rescan waits until no operation
// runs.
Rectangle {
    id: toolbar

    required property AppModel appModel

    signal settingsRequested

    implicitHeight: 48
    color: Theme.toolbarBackground

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 8

        PlainButton {
            objectName: "rescanButton"
            text: "重新扫描"
            icon.name: "view-refresh"
            enabled: !toolbar.appModel.operation.busy
            onClicked: toolbar.appModel.folders.scan()
        }
        PlainButton {
            objectName: "exportLogButton"
            text: "导出操作日志…"
            icon.name: "document-export"
            onClicked: toolbar.appModel.operation.exportLog()
        }
        PlainButton {
            objectName: "settingsButton"
            text: "设置"
            icon.name: "configure"
            onClicked: toolbar.settingsRequested()
        }
    }
    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.divider
    }
}
