import QtQuick
import QtQuick.Controls.Basic
import Olvex

// The main window: the sidebar of version folders beside the detail column, the busy bar, the
// two sheets, the confirmations and the error alert. It shows the model and calls its commands;
// it keeps no state of its own beyond layout.
ApplicationWindow {
    id: window

    required property AppModel appModel

    title: "Kelvarn · Tarnel"
    width: 1050
    height: 740
    minimumWidth: 900
    minimumHeight: 650
    visible: true
    color: Theme.windowBackground
    font.pixelSize: Theme.body

    header: Toolbar {
        appModel: window.appModel
        onSettingsRequested: settingsWindow.show()
    }

    SplitView {
        objectName: "splitView"
        anchors.fill: parent
        enabled: !window.appModel.operation.busy
        orientation: Qt.Horizontal

        handle: Item {
            implicitWidth: 1
        }

        Sidebar {
            appModel: window.appModel
            SplitView.preferredWidth: 250
            SplitView.minimumWidth: 220
            SplitView.maximumWidth: 380
        }
        DetailPane {
            appModel: window.appModel
            SplitView.fillWidth: true
        }
    }

    // A ZIP dragged from the file browser starts the same preview as "选择 ZIP 并预览…".
    DropArea {
        objectName: "dropArea"
        anchors.fill: parent
        enabled: !window.appModel.operation.busy && !window.appModel.packs.preview.shown
        onDropped: drop => {
            drop.accept(Qt.CopyAction);
            window.appModel.packs.dropFiles(drop.urls);
        }
    }

    BusyBar {
        appModel: window.appModel
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 18
    }

    InstallSheet {
        appModel: window.appModel
    }
    ScopeSheet {
        appModel: window.appModel
    }

    ConfirmDialog {
        objectName: "restoreDialog"
        shown: window.appModel.backups.hasRestoreCandidate
        title: window.appModel.backups.restoreTitle
        message: "将替换当前版本中的整个对应目录。请确认游戏已退出。"
        confirmText: "备份当前状态并恢复"
        onConfirmed: window.appModel.backups.confirmRestore()
        onDismissed: window.appModel.dismissCandidates()
    }
    ConfirmDialog {
        objectName: "repairDialog"
        shown: window.appModel.backups.health.hasRepairCandidate
        title: window.appModel.backups.health.repairTitle
        message: window.appModel.backups.health.repairMessage
        confirmText: "备份 WTF 并修复"
        confirmEnabled: window.appModel.backups.health.repairPossible && window.appModel.folders.gameClosed
        onConfirmed: window.appModel.backups.health.confirmRepair()
        onDismissed: window.appModel.dismissCandidates()
    }
    ConfirmDialog {
        objectName: "recycleDialog"
        shown: window.appModel.backups.hasRecycleCandidate
        title: "移入可恢复区？"
        message: "可通过备份管理恢复；此操作不会释放磁盘空间。"
        confirmText: "移入可恢复区"
        onConfirmed: window.appModel.backups.confirmRecycle()
        onDismissed: window.appModel.dismissCandidates()
    }
    ConfirmDialog {
        objectName: "importDialog"
        shown: window.appModel.backups.hasImportCandidate
        title: "导入并替换整个 WTF？"
        message: "将替换当前版本的全部账号和角色配置。导入前验证文件摘要并备份现有配置，请确认来源和目标版本。"
        confirmText: "备份当前配置并导入"
        onConfirmed: window.appModel.backups.confirmImport()
        onDismissed: window.appModel.dismissCandidates()
    }
    ConfirmDialog {
        objectName: "retiredDialog"
        shown: window.appModel.packs.hasRetiredCandidate
        title: "备份并清理旧整合包插件？"
        message: "仅清理历史整合包记录中已有归属、当前已不随包发布且摘要未变化的目录。清理前会备份整个 AddOns，可从插件备份恢复旧版本。"
        confirmText: window.appModel.packs.retiredConfirmText
        onConfirmed: window.appModel.packs.confirmRetired()
        onDismissed: window.appModel.dismissCandidates()
    }
    // Inside the install sheet a failure shows in the sheet itself; elsewhere in this alert.
    ConfirmDialog {
        objectName: "errorAlert"
        shown: window.appModel.operation.hasError && !window.appModel.packs.preview.shown
        title: "操作未完成"
        message: window.appModel.operation.error
        confirmText: "知道了"
        destructive: false
        showCancel: false
        onConfirmed: window.appModel.operation.dismissError()
        onDismissed: window.appModel.operation.dismissError()
    }
    ConfirmDialog {
        id: quitDialog

        objectName: "quitDialog"
        title: "操作仍在进行，确定退出？"
        message: "退出前会先取消当前操作，游戏文件保持操作前状态；若操作已开始提交，将等它完成后再退出。"
        confirmText: "取消操作并退出"
        cancelText: "继续操作"
        onConfirmed: {
            quitDialog.close();
            if (window.appModel.operation.requestQuit())
                Qt.quit();
        }
    }

    SettingsWindow {
        id: settingsWindow

        transientParent: window
    }

    Shortcut {
        sequence: "Ctrl+R"
        enabled: !window.appModel.operation.busy && !window.appModel.packs.preview.shown && !window.appModel.backups.scopePicker.shown
        onActivated: window.appModel.folders.scan()
    }
    Shortcut {
        sequence: "Ctrl+O"
        enabled: !window.appModel.packs.preview.shown && !window.appModel.backups.scopePicker.shown
        onActivated: window.appModel.packs.chooseZIP()
    }
    Shortcut {
        sequence: "Ctrl+,"
        onActivated: settingsWindow.show()
    }

    onClosing: close => {
        if (window.appModel.operation.busy) {
            close.accepted = false;
            quitDialog.open();
        }
    }

    Connections {
        target: window.appModel.operation

        function onQuitReady() {
            Qt.quit();
        }
    }

    // The first scan starts as soon as the window exists.
    Component.onCompleted: window.appModel.folders.scan()
}
