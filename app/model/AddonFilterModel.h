#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <vector>

#include "model/RowModel.h"
#include "model/Rows.h"

namespace olvex {

// The installed add-ons of the selected folder as the window lists them: every add-on, filtered
// by the search field with the core's own search rule (the one `olvex addons --search` uses).
class AddonFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")

    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QString heading READ heading NOTIFY addonsChanged)
    Q_PROPERTY(bool hasAddons READ hasAddons NOTIFY addonsChanged)

public:
    explicit AddonFilterModel(QObject* parent = nullptr);

    // Every add-on, matching or not.
    std::vector<InstalledAddon> addonList() const;
    void setAddons(const std::vector<InstalledAddon>& addons);

    QString query() const { return m_query; }
    void setQuery(const QString& query);
    QString heading() const;
    bool hasAddons() const { return !m_all.rows().empty(); }

signals:
    void queryChanged();
    void addonsChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    RowModel<rows::AddonRow> m_all;
    QString m_query;
    std::string m_queryText;
};

} // namespace olvex
