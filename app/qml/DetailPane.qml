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

            // Plain positioners here: wrapped text inside nested layouts makes the layout
            // engine chase its own width.
            Column {
                x: 28
                y: 28
                width: scroll.availableWidth - 56
                spacing: 22

                Item {
                    width: parent.width
                    height: heading.height

                    Column {
                        id: heading

                        anchors.left: parent.left
                        anchors.right: spinner.left
                        anchors.rightMargin: 16
                        spacing: 7

                        Text {
                            objectName: "headerTitle"
                            width: parent.width
                            text: pane.appModel.headerTitle
                            elide: Text.ElideRight
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.largeTitle
                            font.bold: true
                            color: Theme.text
                        }
                        TextEdit {
                            objectName: "headerSubtitle"
                            width: parent.width
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
                        id: spinner

                        anchors.right: parent.right
                        anchors.top: parent.top
                        anchors.topMargin: 10
                        width: 18
                        height: 18
                        running: pane.appModel.busy
                    }
                }

                Rectangle {
                    width: parent.width
                    height: 1
                    color: Theme.divider
                }

                Item {
                    width: parent.width
                    height: status.height

                    SymbolIcon {
                        name: "info.circle"
                        color: Theme.secondaryText
                        width: 15
                        height: 15
                        y: (statusMetrics.height - height) / 2
                    }
                    Text {
                        id: status

                        objectName: "statusLine"
                        x: 22
                        width: parent.width - 22
                        text: pane.appModel.message
                        wrapMode: Text.Wrap
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.callout
                        color: Theme.secondaryText
                    }
                    FontMetrics {
                        id: statusMetrics

                        font: status.font
                    }
                }
            }
        }
    }
}
