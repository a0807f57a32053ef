#include "model/AddonFilterModel.h"

#include <algorithm>

namespace olvex {

AddonFilterModel::AddonFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setSourceModel(&m_all);
}

std::vector<InstalledAddon> AddonFilterModel::addonList() const {
    std::vector<InstalledAddon> list;
    for (const auto& row : m_all.rows()) {
        list.push_back(row.addon);
    }
    return list;
}

void AddonFilterModel::setAddons(const std::vector<InstalledAddon>& addons) {
    std::vector<rows::AddonRow> list;
    std::transform(addons.begin(), addons.end(), std::back_inserter(list), rows::addon);
    m_all.setRows(std::move(list));
    emit addonsChanged();
}

void AddonFilterModel::setQuery(const QString& query) {
    if (query == m_query) {
        return;
    }
    m_query = query;
    m_queryText = query.toStdString();
    emit queryChanged();
    invalidateRowsFilter();
}

QString AddonFilterModel::heading() const {
    return QStringLiteral("已安装插件 · %1").arg(m_all.rows().size());
}

bool AddonFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return m_queryText.empty() || addonMatchesSearch(m_all.rows()[static_cast<size_t>(sourceRow)].addon, m_queryText);
}

} // namespace olvex
