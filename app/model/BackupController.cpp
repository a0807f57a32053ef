#include "model/BackupController.h"

#include <algorithm>

#include "model/FolderController.h"
#include "model/OperationStatus.h"
#include "model/Rows.h"
#include "model/ServiceLink.h"
#include "platform/PlatformServices.h"
#include "platform/PlatformWords.h"
#include "service/Outcomes.h"

namespace olvex {

namespace {

// A confirmed candidate runs its command, if it is still there, and is cleared either way.
template <typename T, typename Command> void takeCandidate(std::optional<T>& candidate, Command command) {
    if (candidate) {
        command(*candidate);
    }
    candidate.reset();
}

} // namespace

BackupController::BackupController(PlatformServices& platform, ServiceLink& link, OperationStatus& status,
                                   FolderController& folders, QObject* parent)
    : QObject(parent), m_platform(platform), m_link(link), m_status(status), m_folders(folders),
      m_health(link, status, folders) {}

std::vector<LocalBackup> BackupController::backupList() const {
    std::vector<LocalBackup> list;
    for (const auto& row : m_rows.rows()) {
        list.push_back(row.backup);
    }
    return list;
}

void BackupController::setBackups(const std::vector<BackupDetails>& details, const BackupUsage& usage) {
    m_sizes.clear();
    std::vector<rows::BackupRow> list;
    const QLocale locale;
    for (const auto& detail : details) {
        m_sizes[detail.id()] = detail.bytes;
        const auto freed = usage.freedBytes.find(detail.id());
        list.push_back(rows::backup(detail.backup, detail.bytes,
                                    freed == usage.freedBytes.end() ? detail.bytes : freed->second, locale));
    }
    m_rows.setRows(std::move(list));
    assignProperty(this, m_storeText,
                   details.empty() ? QString() : rows::storeText(details.size(), usage.occupiedBytes, locale),
                   &BackupController::storeTextChanged);
}

void BackupController::clear() {
    m_rows.setRows({});
    assignProperty(this, m_storeText, QString(), &BackupController::storeTextChanged);
}

void BackupController::backup() {
    m_folders.runOnSelected(QStringLiteral("备份 WTF"), true, [this](const GameClient& client) {
        m_folders.requireClosedGame();
        auto control = m_status.operation().get();
        return m_folders.change([client, control](ManagerService& service) { service.backupWTF(client, control); },
                                QString::fromUtf8(outcome::kWtfBackedUp));
    });
}

void BackupController::restore(const LocalBackup& backup, const std::optional<std::string>& scope) {
    m_folders.runOnSelected(QStringLiteral("恢复备份"), true, [this, backup, scope](const GameClient& client) {
        m_folders.requireClosedGame();
        auto control = m_status.operation().get();
        return m_folders.change([backup, scope, client,
                                 control](ManagerService& service) { service.restore(backup, client, scope, control); },
                                rows::text(outcome::restored(backup.kind)));
    });
}

void BackupController::restoreAddon(const LocalBackup& backup, const std::string& addon,
                                    const std::optional<std::string>& scope) {
    m_folders.runOnSelected(QStringLiteral("恢复插件配置"), true,
                            [this, backup, addon, scope](const GameClient& client) {
                                m_folders.requireClosedGame();
                                auto control = m_status.operation().get();
                                return m_folders.change(
                                    [backup, addon, scope, client, control](ManagerService& service) {
                                        service.restoreAddonSettings(backup, client, addon, scope, control);
                                    },
                                    rows::text(outcome::addonSettingsRestored(addon)));
                            });
}

void BackupController::chooseScope(const LocalBackup& backup) {
    m_folders.runOnSelected(QStringLiteral("选择恢复范围"), false,
                            [this, backup](const GameClient& client) { return chooseScopeBody(backup, client); });
}

void BackupController::chooseScope(const QString& backupId) {
    if (auto backup = backupWithId(backupId)) {
        chooseScope(*backup);
    }
}

QCoro::Task<> BackupController::chooseScopeBody(LocalBackup backup, GameClient client) {
    auto request =
        m_link.ask([backup, client](ManagerService& service) { return service.configurationScopes(backup, client); });
    auto scopes = co_await request;
    auto askAddons =
        m_link.ask([backup, client](ManagerService& service) { return service.savedVariablesAddons(backup, client); });
    auto addons = co_await askAddons;
    m_picker.open(backup, std::move(scopes), std::move(addons));
    if (!m_picker.shown()) {
        throw ManagerError("备份中没有可选择的账号或角色目录，可使用整目录恢复。");
    }
}

void BackupController::exportBackup(const LocalBackup& backup) {
    auto client = m_folders.selected();
    if (!client || m_status.busy()) {
        return;
    }
    const QString proposed = rows::text(rawValue(backup.kind) + "-" + backup.id.text() + ".olvexbackup");
    auto destination = m_status.askPanel([&] {
        return m_platform.chooseSaveLocation(QStringLiteral("导出备份到其他磁盘（配置可能包含账号信息）"), proposed);
    });
    if (!destination) {
        return;
    }
    m_status.run(QStringLiteral("导出备份"), true, [this, backup, client = *client, path = toPath(*destination)] {
        return exportBody(backup, client, path);
    });
}

void BackupController::exportBackup(const QString& backupId) {
    if (auto backup = backupWithId(backupId)) {
        exportBackup(*backup);
    }
}

QCoro::Task<> BackupController::exportBody(LocalBackup backup, GameClient client, Path destination) {
    auto control = m_status.operation().get();
    auto request = m_link.ask([backup, client, destination, control](ManagerService& service) {
        service.exportBackup(backup, client, destination, control);
    });
    co_await request;
    m_status.setMessage(QString::fromUtf8(outcome::kExported));
}

void BackupController::chooseConfiguration() {
    if (auto folder = m_status.askPanel(
            [&] { return m_platform.chooseDirectory(QStringLiteral("选择导出的 .olvexbackup 文件夹")); })) {
        m_importCandidate = *folder;
        emit candidatesChanged();
    }
}

void BackupController::importConfiguration(const QString& folder) {
    m_folders.runOnSelected(QStringLiteral("导入配置"), true, [this, folder](const GameClient& client) {
        m_folders.requireClosedGame();
        auto control = m_status.operation().get();
        const Path from = toPath(folder);
        return m_folders.change(
            [from, client, control](ManagerService& service) { service.importWTF(from, client, control); },
            QString::fromUtf8(outcome::kImported));
    });
}

void BackupController::recycle(const LocalBackup& backup) {
    m_folders.runOnSelected(QStringLiteral("移除备份"), false, [this, backup](const GameClient& client) {
        return m_folders.change([backup, client](ManagerService& service) { service.recycleBackup(backup, client); },
                                QStringLiteral("备份已移入可恢复区，仍占磁盘空间。确认无需保留后可在") +
                                    PlatformWords::fileBrowser() + QStringLiteral("中清理。"));
    });
}

void BackupController::retainRecent() {
    m_folders.runOnSelected(QStringLiteral("保留最近备份"), false, [this](const GameClient& client) {
        return m_folders.change(
            [client](ManagerService& service) { service.retainBackups(kDefaultRetainedBackups, client); },
            QStringLiteral("每类保留最近 %1 份，其余已移入可恢复区（仍占磁盘空间）。").arg(kDefaultRetainedBackups));
    });
}

void BackupController::recoverRecycled() {
    m_folders.runOnSelected(QStringLiteral("恢复已移除备份"), false, [this](const GameClient& client) {
        return m_folders.change([client](ManagerService& service) { service.recoverRecycledBackups(client); },
                                QStringLiteral("已恢复可恢复区中的备份。"));
    });
}

void BackupController::revealBackups() {
    if (auto client = m_folders.selected()) {
        // A folder that cannot be shown is not reported: there is nothing the user could do.
        m_platform.revealInFileBrowser(toQString(ManagerService::managerFolder(*client)));
    }
}

std::optional<LocalBackup> BackupController::backupWithId(const QString& id) const {
    const auto uuid = Uuid::parse(id.toStdString());
    const auto& list = m_rows.rows();
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const rows::BackupRow& row) { return uuid && row.backup.id == *uuid; });
    return it == list.end() ? std::nullopt : std::optional<LocalBackup>(it->backup);
}

// --- Confirmations -----------------------------------------------------------------------

void BackupController::setRestoreCandidate(const QString& backupId) {
    m_restoreCandidate = backupWithId(backupId);
    emit candidatesChanged();
}

void BackupController::confirmRestore() {
    takeCandidate(m_restoreCandidate, [this](const auto& candidate) { restore(candidate, std::nullopt); });
    emit candidatesChanged();
}

void BackupController::setRecycleCandidate(const QString& backupId) {
    m_recycleCandidate = backupWithId(backupId);
    emit candidatesChanged();
}

void BackupController::confirmRecycle() {
    takeCandidate(m_recycleCandidate, [this](const auto& candidate) { recycle(candidate); });
    emit candidatesChanged();
}

void BackupController::confirmImport() {
    takeCandidate(m_importCandidate, [this](const auto& candidate) { importConfiguration(candidate); });
    emit candidatesChanged();
}

void BackupController::confirmScope() {
    if (!m_picker.backup() || !m_picker.canConfirm()) {
        return;
    }
    const LocalBackup backup = *m_picker.backup();
    const auto scope = m_picker.selection();
    const auto addon = m_picker.byAddon() ? m_picker.addonSelection() : std::nullopt;
    m_picker.close();
    if (addon) {
        restoreAddon(backup, *addon, scope);
    } else {
        restore(backup, scope);
    }
}

void BackupController::dismissCandidates() {
    m_restoreCandidate.reset();
    m_recycleCandidate.reset();
    m_importCandidate.reset();
    m_picker.close();
    m_health.dismissCandidate();
    emit candidatesChanged();
}

QString BackupController::restoreTitle() const {
    return QStringLiteral("恢复") +
           (m_restoreCandidate ? rows::text(title(m_restoreCandidate->kind)) : QStringLiteral("备份")) +
           QStringLiteral("？");
}

} // namespace olvex
