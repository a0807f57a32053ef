#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>
#include <vector>

#include "model/RowModel.h"
#include "model/Rows.h"

namespace olvex {

// The scope picker sheet: the accounts, realms and characters of one configuration backup, and
// the one chosen for a restore. Shown while it holds a backup.
class ScopePicker : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 BackupController 提供")

    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    Q_PROPERTY(olvex::RowModelBase* scopes READ scopeRows CONSTANT)
    Q_PROPERTY(QString selection READ selectionText WRITE setSelectionText NOTIFY selectionChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectionChanged)

public:
    using QObject::QObject;

    const std::optional<LocalBackup>& backup() const { return m_backup; }
    const std::vector<ConfigurationScope>& scopeList() const { return m_scopes; }
    const std::optional<std::string>& selection() const { return m_selection; }

    bool shown() const { return m_backup.has_value(); }
    RowModel<rows::ScopeRow>* scopes() { return &m_rows; }
    RowModelBase* scopeRows() { return &m_rows; }
    QString selectionText() const;
    void setSelectionText(const QString& relativePath);
    bool hasSelection() const { return m_selection.has_value(); }

    // Lists `scopes` of `backup` with the first chosen and shows the picker; nothing when there
    // are none.
    void open(const LocalBackup& backup, std::vector<ConfigurationScope> scopes);
    void close();

signals:
    void shownChanged();
    void selectionChanged();

private:
    void setSelection(std::optional<std::string> selection);

    std::optional<LocalBackup> m_backup;
    std::vector<ConfigurationScope> m_scopes;
    std::optional<std::string> m_selection;
    RowModel<rows::ScopeRow> m_rows;
};

} // namespace olvex
