#include "model/ScopePicker.h"

namespace olvex {

namespace {

std::optional<std::string> optionalText(const QString& text) {
    return text.isEmpty() ? std::nullopt : std::optional<std::string>(text.toStdString());
}

} // namespace

QString ScopePicker::selectionText() const {
    return m_selection ? QString::fromStdString(*m_selection) : QString();
}

void ScopePicker::setSelectionText(const QString& relativePath) {
    setSelection(optionalText(relativePath), m_addonSelection);
}

QString ScopePicker::addonSelectionText() const {
    return m_addonSelection ? QString::fromStdString(*m_addonSelection) : QString();
}

void ScopePicker::setAddonSelectionText(const QString& name) {
    setSelection(m_selection, optionalText(name));
}

QString ScopePicker::confirmText() const {
    return m_byAddon ? QStringLiteral("备份并恢复该插件配置") : QStringLiteral("备份并恢复所选范围");
}

QString ScopePicker::explanation() const {
    return m_byAddon
               ? QStringLiteral(
                     "只恢复所选插件的配置文件（<插件>.lua 及 .lua.bak），其他插件和设置保持不变。备份中每个 "
                     "SavedVariables "
                     "目录里的这两个文件都恢复为备份时的样子，备份中没有的会被移除；可限定在一个账号、服务器或角色内。")
               : QStringLiteral("仅覆盖所选的原路径，不改写账号或角色名。账号级恢复包含共享 "
                                "SavedVariables，会影响该账号下其他角色；角色级恢复保留账号共享配置，可能无法单独还原插"
                                "件的全部设置。");
}

void ScopePicker::setByAddon(bool byAddon) {
    if (byAddon == m_byAddon || (byAddon && m_addons.empty()) || (!byAddon && m_scopes.empty())) {
        return;
    }
    m_byAddon = byAddon;
    emit modeChanged();
    if (m_byAddon) {
        setSelection(std::nullopt, m_addons.front().name);
    } else {
        setSelection(m_scopes.front().relativePath, std::nullopt);
    }
}

void ScopePicker::open(const LocalBackup& backup, std::vector<ConfigurationScope> scopes,
                       std::vector<SavedVariablesAddon> addons) {
    m_scopes = std::move(scopes);
    m_addons = std::move(addons);
    const bool byAddon = m_scopes.empty();
    if (byAddon != m_byAddon) {
        m_byAddon = byAddon;
        emit modeChanged();
    }
    if (m_scopes.empty() && m_addons.empty()) {
        setSelection(std::nullopt, std::nullopt);
        return;
    }
    if (m_byAddon) {
        setSelection(std::nullopt, m_addons.front().name);
    } else {
        setSelection(m_scopes.front().relativePath, std::nullopt);
    }
    m_backup = backup;
    emit shownChanged();
}

void ScopePicker::close() {
    if (m_backup) {
        m_backup.reset();
        emit shownChanged();
    }
}

void ScopePicker::setSelection(std::optional<std::string> selection, std::optional<std::string> addon) {
    const bool changed = selection != m_selection || addon != m_addonSelection;
    m_selection = std::move(selection);
    m_addonSelection = std::move(addon);
    std::vector<rows::ScopeRow> list;
    if (m_byAddon) {
        // By add-on, no scope means every account and character.
        list.push_back({QString(), QStringLiteral("全部账号和角色"), !m_selection.has_value()});
    }
    for (const auto& scope : m_scopes) {
        list.push_back(rows::scope(scope, m_selection));
    }
    m_rows.setRows(std::move(list));
    std::vector<rows::SettingsAddonRow> addons;
    for (const auto& each : m_addons) {
        addons.push_back(rows::settingsAddon(each, m_addonSelection));
    }
    m_addonRows.setRows(std::move(addons));
    if (changed) {
        emit selectionChanged();
    }
}

} // namespace olvex
