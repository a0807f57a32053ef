#include "model/ScopePicker.h"

namespace olvex {

QString ScopePicker::selectionText() const {
    return m_selection ? QString::fromStdString(*m_selection) : QString();
}

void ScopePicker::setSelectionText(const QString& relativePath) {
    setSelection(relativePath.isEmpty() ? std::nullopt : std::optional<std::string>(relativePath.toStdString()));
}

void ScopePicker::open(const LocalBackup& backup, std::vector<ConfigurationScope> scopes) {
    m_scopes = std::move(scopes);
    setSelection(m_selection);
    if (m_scopes.empty()) {
        return;
    }
    setSelection(m_scopes.front().relativePath);
    m_backup = backup;
    emit shownChanged();
}

void ScopePicker::close() {
    if (m_backup) {
        m_backup.reset();
        emit shownChanged();
    }
}

void ScopePicker::setSelection(std::optional<std::string> selection) {
    const bool changed = selection != m_selection;
    m_selection = std::move(selection);
    std::vector<rows::ScopeRow> list;
    for (const auto& scope : m_scopes) {
        list.push_back(rows::scope(scope, m_selection));
    }
    m_rows.setRows(std::move(list));
    if (changed) {
        emit selectionChanged();
    }
}

} // namespace olvex
