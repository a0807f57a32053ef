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
// the one chosen for a restore. Shown while it holds a backup. A second way to choose is by
// add-on: one add-on's settings (its saved variables), everywhere or within the chosen account,
// realm or character; the scope list then begins with "全部账号和角色", which is no scope.
class ScopePicker : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 BackupController 提供")

    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    Q_PROPERTY(olvex::RowModelBase* scopes READ scopeRows CONSTANT)
    Q_PROPERTY(QString selection READ selectionText WRITE setSelectionText NOTIFY selectionChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool byAddon READ byAddon WRITE setByAddon NOTIFY modeChanged)
    // Whether the backup holds any add-on's settings: the "按插件" choice is offered.
    Q_PROPERTY(bool hasAddons READ hasAddons NOTIFY shownChanged)
    Q_PROPERTY(olvex::RowModelBase* addons READ addonRows CONSTANT)
    Q_PROPERTY(QString addonSelection READ addonSelectionText WRITE setAddonSelectionText NOTIFY selectionChanged)
    Q_PROPERTY(bool canConfirm READ canConfirm NOTIFY selectionChanged)
    Q_PROPERTY(QString confirmText READ confirmText NOTIFY modeChanged)
    // What a restore of this kind overwrites and what it keeps.
    Q_PROPERTY(QString explanation READ explanation NOTIFY modeChanged)

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

    bool byAddon() const { return m_byAddon; }
    // Switching chooses afresh: the first scope, or the first add-on everywhere.
    void setByAddon(bool byAddon);
    bool hasAddons() const { return !m_addons.empty(); }
    RowModel<rows::SettingsAddonRow>* addons() { return &m_addonRows; }
    RowModelBase* addonRows() { return &m_addonRows; }
    const std::optional<std::string>& addonSelection() const { return m_addonSelection; }
    QString addonSelectionText() const;
    void setAddonSelectionText(const QString& name);
    bool canConfirm() const { return m_byAddon ? m_addonSelection.has_value() : m_selection.has_value(); }
    QString confirmText() const;
    QString explanation() const;

    // Lists `scopes` and `addons` of `backup` and shows the picker by scope (by add-on when
    // there is no scope) with the first chosen; nothing when both are empty.
    void open(const LocalBackup& backup, std::vector<ConfigurationScope> scopes,
              std::vector<SavedVariablesAddon> addons = {});
    void close();

signals:
    void shownChanged();
    void selectionChanged();
    void modeChanged();

private:
    void setSelection(std::optional<std::string> selection, std::optional<std::string> addon);

    std::optional<LocalBackup> m_backup;
    std::vector<ConfigurationScope> m_scopes;
    std::vector<SavedVariablesAddon> m_addons;
    std::optional<std::string> m_selection;
    std::optional<std::string> m_addonSelection;
    bool m_byAddon = false;
    RowModel<rows::ScopeRow> m_rows;
    RowModel<rows::SettingsAddonRow> m_addonRows;
};

} // namespace olvex
