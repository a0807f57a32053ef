#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <map>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

#include "model/RowModel.h"
#include "model/Rows.h"
#include "model/ScopePicker.h"
#include "model/SettingsHealth.h"

namespace olvex {

class FolderController;
class OperationStatus;
class PlatformServices;
class ServiceLink;

// Backups of the selected folder and what is done with them: the WTF backup, restoring whole
// (confirmed), one scope or one add-on's settings (the scope picker), export, import of an
// exported WTF (confirmed), the recycle area (move one aside, keep the newest, bring them back),
// the backups folder, and the health of the add-on settings that the backups can repair.
class BackupController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")

    Q_PROPERTY(olvex::RowModelBase* list READ listRows CONSTANT)
    Q_PROPERTY(olvex::ScopePicker* scopePicker READ scopePicker CONSTANT)
    Q_PROPERTY(olvex::SettingsHealth* health READ health CONSTANT)
    Q_PROPERTY(bool hasRestoreCandidate READ hasRestoreCandidate NOTIFY candidatesChanged)
    Q_PROPERTY(QString restoreTitle READ restoreTitle NOTIFY candidatesChanged)
    Q_PROPERTY(bool hasRecycleCandidate READ hasRecycleCandidate NOTIFY candidatesChanged)
    Q_PROPERTY(bool hasImportCandidate READ hasImportCandidate NOTIFY candidatesChanged)
    // What the listed backups take on disk together, where they share unchanged files; empty
    // without backups.
    Q_PROPERTY(QString storeText READ storeText NOTIFY storeTextChanged)

public:
    BackupController(PlatformServices& platform, ServiceLink& link, OperationStatus& status, FolderController& folders,
                     QObject* parent = nullptr);

    RowModel<rows::BackupRow>* list() { return &m_rows; }
    RowModelBase* listRows() { return &m_rows; }
    ScopePicker* scopePicker() { return &m_picker; }
    SettingsHealth* health() { return &m_health; }
    // The listed backups, newest first as the service lists them.
    std::vector<LocalBackup> backupList() const;
    const std::map<Uuid, std::int64_t>& backupSizes() const { return m_sizes; }
    const std::optional<LocalBackup>& restoreCandidate() const { return m_restoreCandidate; }
    const std::optional<LocalBackup>& recycleCandidate() const { return m_recycleCandidate; }
    const std::optional<QString>& importCandidate() const { return m_importCandidate; }
    bool hasRestoreCandidate() const { return m_restoreCandidate.has_value(); }
    QString restoreTitle() const;
    bool hasRecycleCandidate() const { return m_recycleCandidate.has_value(); }
    bool hasImportCandidate() const { return m_importCandidate.has_value(); }
    QString storeText() const { return m_storeText; }

    void setBackups(const std::vector<BackupDetails>& details, const BackupUsage& usage);
    // Empties the list; the sizes stay as the last listing measured them.
    void clear();

    Q_INVOKABLE void backup();
    void restore(const LocalBackup& backup, const std::optional<std::string>& scope);
    // Restores one add-on's settings, everywhere or within `scope`.
    void restoreAddon(const LocalBackup& backup, const std::string& addon, const std::optional<std::string>& scope);
    void chooseScope(const LocalBackup& backup);
    Q_INVOKABLE void chooseScope(const QString& backupId);
    void exportBackup(const LocalBackup& backup);
    Q_INVOKABLE void exportBackup(const QString& backupId);
    Q_INVOKABLE void chooseConfiguration();
    void importConfiguration(const QString& folder);
    void recycle(const LocalBackup& backup);
    Q_INVOKABLE void retainRecent();
    Q_INVOKABLE void recoverRecycled();
    Q_INVOKABLE void revealBackups();

    // A row's button sets the candidate, the dialog confirms or dismisses.
    Q_INVOKABLE void setRestoreCandidate(const QString& backupId);
    Q_INVOKABLE void confirmRestore();
    Q_INVOKABLE void setRecycleCandidate(const QString& backupId);
    Q_INVOKABLE void confirmRecycle();
    Q_INVOKABLE void confirmImport();
    // The scope picker's confirmation: closes it and restores the chosen scope, or the chosen
    // add-on's settings.
    Q_INVOKABLE void confirmScope();
    // Closes whichever confirmation (or the scope picker) is open without acting.
    Q_INVOKABLE void dismissCandidates();

signals:
    void storeTextChanged();
    void candidatesChanged();

private:
    QCoro::Task<> chooseScopeBody(LocalBackup backup, GameClient client);
    QCoro::Task<> exportBody(LocalBackup backup, GameClient client, Path destination);
    std::optional<LocalBackup> backupWithId(const QString& id) const;

    PlatformServices& m_platform;
    ServiceLink& m_link;
    OperationStatus& m_status;
    FolderController& m_folders;
    QString m_storeText;
    RowModel<rows::BackupRow> m_rows;
    std::map<Uuid, std::int64_t> m_sizes;
    ScopePicker m_picker;
    SettingsHealth m_health;
    std::optional<LocalBackup> m_restoreCandidate;
    std::optional<LocalBackup> m_recycleCandidate;
    std::optional<QString> m_importCandidate;
};

} // namespace olvex
