#pragma once

#include <QAbstractListModel>
#include <QByteArrayList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace olvex {

// A list for the window whose rows are records already turned into what the view shows: each
// row holds one value per named role, in the order the roles were given. The model fills it
// from the core's records; the view only reads roles.
class RowListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    explicit RowListModel(QByteArrayList roles, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Replaces the rows. When the number of rows stays the same, only the changed cells are
    // announced, so that a view keeps its scroll position and focus; otherwise the list resets.
    void setRows(QList<QVariantList> rows);
    const QList<QVariantList>& rows() const { return m_rows; }
    // The value of `role` (by name) in `row`; invalid when either is unknown.
    QVariant value(int row, const QByteArray& role) const;

signals:
    void countChanged();

private:
    QByteArrayList m_roles;
    QList<QVariantList> m_rows;
};

} // namespace olvex
