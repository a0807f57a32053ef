#pragma once

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>
#include <optional>
#include <string>
#include <vector>

#include "discovery/GameScanner.h"
#include "records/GameClient.h"

namespace olvex {

// The version folders of the last scan, in the scanner's order, as the sidebar lists them.
// Each row also says whether it is the selected one, so the view needs no comparison.
class ClientListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    enum Role {
        ClientIdRole = Qt::UserRole + 1, // the client's id (its path)
        TitleRole,                       // title from the flavour table
        FolderNameRole,                  // the version folder's own name, e.g. "_retail_"
        GameFolderRole,                  // name of the folder holding it, e.g. "World of Warcraft"
        PathRole,                        // the version folder's path
        SelectedRole,                    // whether its id is the model's selection
        SourceRole,                      // how it was found: "Lutris：world-of-warcraft", "手动选择", …
    };
    Q_ENUM(Role)

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const std::vector<GameClient>& clients() const { return m_clients; }
    // Replaces every row with the report's clients and how each was found.
    void setClients(const ScanReport& report);
    // Marks the row whose id equals `id`; none when absent or unmatched.
    void setSelectedId(const std::optional<std::string>& id);

signals:
    void countChanged();

private:
    int rowOf(const std::optional<std::string>& id) const;

    std::vector<GameClient> m_clients;
    std::vector<QString> m_sources;
    std::optional<std::string> m_selectedId;
};

} // namespace olvex
