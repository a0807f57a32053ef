pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The health of the selected folder's add-on settings inside the backup section: the summary
// (or the check's progress), and for each damaged file what happened, where, the copy a repair
// takes and its "修复…".
Column {
    id: box

    required property AppModel appModel
    readonly property SettingsHealth health: box.appModel.backups.health

    objectName: "settingsHealth"
    spacing: 8
    visible: box.appModel.folders.hasSelection

    Item {
        width: parent.width
        height: Math.max(summaryRow.height, repairAllButton.height)

        Row {
            id: summaryRow

            anchors.left: parent.left
            anchors.right: repairAllButton.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8

            ThemeIcon {
                id: summaryIcon

                name: box.health.healthy ? "security-high" : "dialog-warning"
                visible: !box.health.showsChecking && box.health.summary !== ""
                size: 18
                color: box.health.healthy ? Theme.secondaryText : Theme.accent
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                objectName: "healthSummary"
                visible: !box.health.showsChecking
                width: summaryRow.width - summaryIcon.width - summaryRow.spacing
                text: box.health.summary
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: Theme.body
                font.bold: !box.health.healthy
                color: Theme.text
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                objectName: "healthProgressText"
                visible: box.health.showsChecking
                text: box.health.progressText
                font.pixelSize: Theme.body
                color: Theme.secondaryText
                anchors.verticalCenter: parent.verticalCenter
            }
            ProgressBar {
                objectName: "healthProgress"
                visible: box.health.showsProgress && box.health.progress >= 0
                width: 160
                from: 0
                to: 1
                value: box.health.progress
                anchors.verticalCenter: parent.verticalCenter
                Accessible.name: "插件配置检查进度"
            }
        }
        PlainButton {
            id: repairAllButton

            objectName: "repairAllButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            visible: box.health.canRepairAll
            text: "全部修复…"
            Accessible.name: "全部修复损坏的插件配置"
            enabled: box.appModel.folders.gameClosed
            onClicked: box.health.setRepairAllCandidate()
        }
    }

    Repeater {
        model: box.health.damaged
        delegate: Rectangle {
            id: damagedRow

            required property string path
            required property string state
            required property string place
            required property string source
            required property bool canRepair
            required property string label

            objectName: "damagedRow"
            width: box.width
            height: Math.max(rowTexts.height, repairButton.height) + 16
            radius: 8
            color: Theme.warningBackground
            border.width: 1
            border.color: Theme.warningBorder

            Column {
                id: rowTexts

                anchors.left: parent.left
                anchors.leftMargin: 12
                anchors.right: repairButton.left
                anchors.rightMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                spacing: 2

                Text {
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    objectName: "damagedState"
                    width: parent.width
                    text: damagedRow.state + " · " + damagedRow.place
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.pixelSize: Theme.body
                    font.bold: true
                    color: Theme.text
                }
                SelectableText {
                    objectName: "damagedPath"
                    text: damagedRow.path
                }
                Caption {
                    objectName: "damagedSource"
                    text: damagedRow.source
                }
            }
            PlainButton {
                id: repairButton

                objectName: "repairButton"
                anchors.right: parent.right
                anchors.rightMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                text: "修复…"
                Accessible.name: "修复：" + damagedRow.label
                enabled: box.appModel.folders.gameClosed
                onClicked: box.health.setRepairCandidate(damagedRow.path)
            }
        }
    }
}
