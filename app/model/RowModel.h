#pragma once

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>
#include <vector>

namespace olvex {

// What every list of the window offers QML besides its rows: the row count as a property.
class RowModelBase : public QAbstractListModel {
    Q_OBJECT
    QML_NAMED_ELEMENT(RowModel)
    QML_UNCREATABLE("由控制器提供")
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : size(); }

signals:
    void countChanged();

protected:
    virtual int size() const = 0;
};

// A list of typed rows. `Row` declares its role enum, `static QHash<int, QByteArray> roleNames()`
// and `QVariant data(int role) const`; each row already holds what the view shows, composed and
// formatted, so the view only places the values.
template <typename Row> class RowModel final : public RowModelBase {
public:
    using RowModelBase::RowModelBase;

    QVariant data(const QModelIndex& index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
            return {};
        }
        return m_rows[static_cast<size_t>(index.row())].data(role);
    }
    QHash<int, QByteArray> roleNames() const override { return Row::roleNames(); }

    // Replaces the rows. When the number of rows stays the same, only the changed cells are
    // announced, so that a view keeps its scroll position and focus; otherwise the list resets.
    void setRows(std::vector<Row> rows) {
        if (rows.size() != m_rows.size()) {
            beginResetModel();
            m_rows = std::move(rows);
            endResetModel();
            emit countChanged();
            return;
        }
        const auto roles = Row::roleNames().keys();
        for (size_t row = 0; row < rows.size(); ++row) {
            QList<int> changed;
            for (int role : roles) {
                if (rows[row].data(role) != m_rows[row].data(role)) {
                    changed.append(role);
                }
            }
            // The row's record is taken even when nothing shown changed: commands read it.
            m_rows[row] = std::move(rows[row]);
            if (!changed.isEmpty()) {
                const QModelIndex at = index(static_cast<int>(row));
                emit dataChanged(at, at, changed);
            }
        }
    }
    const std::vector<Row>& rows() const { return m_rows; }

protected:
    int size() const override { return static_cast<int>(m_rows.size()); }

private:
    std::vector<Row> m_rows;
};

} // namespace olvex
