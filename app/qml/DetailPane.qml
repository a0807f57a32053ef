import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Olvex

// The detail column: the toolbar, then the selected folder's header and the status line.
Rectangle {
    id: pane

    required property AppModel appModel

    color: Theme.windowBackground

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 48
            color: Theme.toolbarBackground

            PlainButton {
                objectName: "rescanButton"
                anchors.right: parent.right
                anchors.rightMargin: 16
                anchors.verticalCenter: parent.verticalCenter
                text: "重新扫描"
                symbol: "arrow.clockwise"
                onClicked: pane.appModel.scan()
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.divider
            }
        }

        ScrollView {
            id: scroll

            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: availableWidth

            ColumnLayout {
                x: 28
                y: 28
                width: scroll.availableWidth - 56
                spacing: 22

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 16

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 7

                        Text {
                            objectName: "headerTitle"
                            Layout.fillWidth: true
                            text: pane.appModel.headerTitle
                            elide: Text.ElideRight
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.largeTitle
                            font.bold: true
                            color: Theme.text
                        }
                        TextEdit {
                            objectName: "headerSubtitle"
                            Layout.fillWidth: true
                            text: pane.appModel.headerSubtitle
                            readOnly: true
                            selectByMouse: true
                            wrapMode: TextEdit.Wrap
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.callout
                            color: Theme.secondaryText
                            selectionColor: Theme.accent
                        }
                    }
                    Spinner {
                        Layout.alignment: Qt.AlignTop
                        Layout.topMargin: 10
                        Layout.preferredWidth: 18
                        Layout.preferredHeight: 18
                        running: pane.appModel.busy
                    }
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 1
                    color: Theme.divider
                }

                Row {
                    Layout.fillWidth: true
                    spacing: 7

                    SymbolIcon {
                        name: "info.circle"
                        color: Theme.secondaryText
                        width: 15
                        height: 15
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        objectName: "statusLine"
                        width: parent.width - 22
                        text: pane.appModel.message
                        wrapMode: Text.Wrap
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.callout
                        color: Theme.secondaryText
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
            }
        }
    }
}
