#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <string>
#include <vector>

#include "base/OperationControl.h"
#include "model/RowModel.h"
#include "model/Rows.h"
#include "savedvars/SavedVariablesHealth.h"

namespace olvex {

class FolderController;
class OperationStatus;
class ServiceLink;

// The health of the selected folder's add-on settings (saved variables), checked after every
// refresh, and the repair of damaged files from the copy the service names. The check is a read
// of the service like the lists, not an operation: it neither holds the window busy nor writes
// the log. Since it may read hundreds of megabytes, it runs with its own control, shows its
// progress once it takes longer than a moment, and gives way (is cancelled) when an operation
// starts or another check replaces it; the operation's refresh checks again.
class SettingsHealth : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 BackupController 提供")

    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    // A check has run longer than a moment: the progress is worth showing.
    Q_PROPERTY(bool showsProgress READ showsProgress NOTIFY progressChanged)
    // The check's line stands in for the summary: while the progress shows, or while the first
    // result of this folder is awaited.
    Q_PROPERTY(bool showsChecking READ showsChecking NOTIFY progressChanged)
    // Share of the bytes read, 0 to 1; -1 until the total is known.
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
    // "插件配置完好（N 个文件）", the count of damaged files, or why the check failed; empty
    // before the first result.
    Q_PROPERTY(QString summary READ summary NOTIFY resultChanged)
    Q_PROPERTY(bool healthy READ healthy NOTIFY resultChanged)
    Q_PROPERTY(olvex::RowModelBase* damaged READ damagedRows CONSTANT)
    // More than one damaged file can be repaired: "全部修复…" is offered.
    Q_PROPERTY(bool canRepairAll READ canRepairAll NOTIFY resultChanged)
    Q_PROPERTY(bool hasRepairCandidate READ hasRepairCandidate NOTIFY candidateChanged)
    Q_PROPERTY(QString repairTitle READ repairTitle NOTIFY candidateChanged)
    Q_PROPERTY(QString repairMessage READ repairMessage NOTIFY candidateChanged)
    // The candidate has a source to repair from; without one the confirmation only explains.
    Q_PROPERTY(bool repairPossible READ repairPossible NOTIFY candidateChanged)

public:
    SettingsHealth(ServiceLink& link, OperationStatus& status, FolderController& folders, QObject* parent = nullptr);

    bool checking() const { return m_control != nullptr; }
    bool showsProgress() const { return m_showsProgress; }
    bool showsChecking() const { return m_showsProgress || (checking() && m_summary.isEmpty()); }
    double progress() const { return m_progress; }
    QString progressText() const;
    QString summary() const { return m_summary; }
    bool healthy() const { return m_report && m_report->healthy(); }
    RowModel<rows::DamagedSettingsRow>* damaged() { return &m_rows; }
    RowModelBase* damagedRows() { return &m_rows; }
    bool canRepairAll() const;
    bool hasRepairCandidate() const { return m_candidate.has_value(); }
    QString repairTitle() const;
    QString repairMessage() const;
    bool repairPossible() const;
    const std::optional<SavedVariablesHealth>& report() const { return m_report; }

    // Checks `client` in the background, cancelling a check still running; completes when done.
    QCoro::Task<> check(GameClient client);
    // No folder selected: no check, no result.
    void clear();
    // Stops a running check without touching what is shown (the model is going away).
    void cancel() {
        if (m_control) {
            m_control->cancel();
        }
    }

    // A row's "修复…" (by its path) or "全部修复…" sets the candidate; the dialog confirms.
    Q_INVOKABLE void setRepairCandidate(const QString& relativePath);
    Q_INVOKABLE void setRepairAllCandidate();
    // Repairs the candidate's files through the operation runner, if the game is closed.
    Q_INVOKABLE void confirmRepair();
    void dismissCandidate();

signals:
    void checkingChanged();
    void progressChanged();
    void resultChanged();
    void candidateChanged();

private:
    // The files a confirmation names: the one chosen, or every damaged file (all: only those
    // with a source are repaired).
    struct Candidate {
        std::vector<DamagedSavedVariables> files;
        bool all = false;
    };
    void setResult(std::optional<SavedVariablesHealth> report, QString summary);
    void stop();
    void updateProgress();
    std::vector<DamagedSavedVariables> repairable() const;

    ServiceLink& m_link;
    OperationStatus& m_status;
    FolderController& m_folders;
    RowModel<rows::DamagedSettingsRow> m_rows;
    std::optional<SavedVariablesHealth> m_report;
    std::string m_checkedClient; // the folder m_report is of
    QString m_summary;
    std::shared_ptr<OperationControl> m_control;
    QTimer m_momentTimer;
    QTimer m_progressTimer;
    bool m_showsProgress = false;
    double m_progress = -1;
    std::optional<Candidate> m_candidate;
};

} // namespace olvex
