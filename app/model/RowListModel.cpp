#include "model/RowListModel.h"

namespace olvex {

RowListModel::RowListModel(QByteArrayList roles, QObject* parent)
    : QAbstractListModel(parent), m_roles(std::move(roles)) {}

int RowListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant RowListModel::data(const QModelIndex& index, int role) const {
    const int column = role - Qt::UserRole - 1;
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) || column < 0 ||
        column >= m_roles.size()) {
        return {};
    }
    return m_rows.at(index.row()).value(column);
}

QHash<int, QByteArray> RowListModel::roleNames() const {
    QHash<int, QByteArray> names;
    for (int i = 0; i < m_roles.size(); ++i) {
        names.insert(Qt::UserRole + 1 + i, m_roles.at(i));
    }
    return names;
}

void RowListModel::setRows(QList<QVariantList> rows) {
    if (rows.size() != m_rows.size()) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        emit countChanged();
        return;
    }
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row) == m_rows.at(row)) {
            continue;
        }
        QList<int> changed;
        for (int column = 0; column < m_roles.size(); ++column) {
            if (rows.at(row).value(column) != m_rows.at(row).value(column)) {
                changed.append(Qt::UserRole + 1 + column);
            }
        }
        m_rows[row] = rows.at(row);
        emit dataChanged(index(row), index(row), changed);
    }
}

QVariant RowListModel::value(int row, const QByteArray& role) const {
    const auto column = m_roles.indexOf(role);
    if (row < 0 || row >= m_rows.size() || column < 0) {
        return {};
    }
    return m_rows.at(row).value(column);
}

} // namespace olvex
