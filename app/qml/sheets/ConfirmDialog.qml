import QtQuick
import QtQuick.Controls

// A confirmation with an always visible title, a message and its buttons: the confirming one
// (`confirmText`, drawn as destructive when `destructive`) and "取消". Esc or "取消" dismisses.
// Shown while `shown`; the model clears the field behind it whichever way the user closes it.
Dialog {
    id: dialog

    property bool shown: false
    property string message
    property string confirmText
    property bool destructive: true
    property string cancelText: "取消"
    property bool showCancel: true
    // False when the dialog can only explain why the action is not possible.
    property bool confirmEnabled: true

    signal confirmed
    signal dismissed

    visible: dialog.shown
    anchors.centerIn: Overlay.overlay
    width: 440
    modal: true
    closePolicy: Popup.CloseOnEscape
    focus: true
    padding: 22
    topPadding: 20
    font.pixelSize: Theme.body

    onRejected: dialog.dismissed()

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }
    background: Rectangle {
        radius: 12
        color: Theme.windowBackground
        border.width: 1
        border.color: Theme.divider
    }
    header: Text {
        objectName: "dialogTitle"
        Accessible.role: Accessible.Heading
        Accessible.name: text
        leftPadding: 22
        rightPadding: 22
        topPadding: 22
        text: dialog.title
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: Theme.title3
        font.bold: true
        color: Theme.text
    }
    contentItem: SelectableText {
        objectName: "dialogMessage"
        text: dialog.message
        font.pixelSize: Theme.body
        color: Theme.text
    }
    footer: Item {
        implicitHeight: buttons.height + 22

        Row {
            id: buttons

            anchors.right: parent.right
            anchors.rightMargin: 22
            spacing: 10

            PlainButton {
                objectName: "dialogCancelButton"
                visible: dialog.showCancel
                text: dialog.cancelText
                onClicked: dialog.reject()
            }
            PlainButton {
                objectName: "dialogConfirmButton"
                text: dialog.confirmText
                prominent: true
                destructive: dialog.destructive
                enabled: dialog.confirmEnabled
                onClicked: dialog.confirmed()
            }
        }
    }
}
