#include "model/ClientListModel.h"

#include "platform/PlatformServices.h"

namespace olvex {

int ClientListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_clients.size());
}

QVariant ClientListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const GameClient& client = m_clients[static_cast<size_t>(index.row())];
    switch (role) {
    case ClientIdRole:
    case PathRole:
        return toQString(client.url());
    case TitleRole:
        return QString::fromStdString(client.title());
    case FolderNameRole:
        return toQString(client.folderName());
    case GameFolderRole:
        return toQString(client.url().parent_path().filename());
    case SelectedRole:
        return m_selectedId && *m_selectedId == client.id();
    case SourceRole:
        return m_sources[static_cast<size_t>(index.row())];
    default:
        return {};
    }
}

QHash<int, QByteArray> ClientListModel::roleNames() const {
    return {{ClientIdRole, "clientId"},     {TitleRole, "title"}, {FolderNameRole, "folderName"},
            {GameFolderRole, "gameFolder"}, {PathRole, "path"},   {SelectedRole, "selected"},
            {SourceRole, "source"}};
}

void ClientListModel::setClients(const ScanReport& report) {
    const bool countChanges = report.clients.size() != m_clients.size();
    beginResetModel();
    m_clients = report.clients;
    m_sources.clear();
    for (const GameClient& client : m_clients) {
        m_sources.push_back(QString::fromStdString(report.sourceOf(client).displayText()));
    }
    endResetModel();
    if (countChanges) {
        emit countChanged();
    }
}

void ClientListModel::setSelectedId(const std::optional<std::string>& id) {
    if (id == m_selectedId) {
        return;
    }
    const int before = rowOf(m_selectedId);
    m_selectedId = id;
    const int after = rowOf(m_selectedId);
    for (int row : {before, after}) {
        if (row >= 0) {
            emit dataChanged(index(row), index(row), {SelectedRole});
        }
    }
}

int ClientListModel::rowOf(const std::optional<std::string>& id) const {
    if (!id) {
        return -1;
    }
    for (size_t i = 0; i < m_clients.size(); ++i) {
        if (m_clients[i].id() == *id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace olvex
