// The service frame: the version-folder check, the lease, recovery of an interrupted
// transaction, the sweep of leftover work folders, the automatic backup and the journalled
// transaction itself, and the free-space check that all of them run first.
//
// Durability. Copies made here and by transaction build steps may defer their flushes: before
// the journal is written, the transaction flushes the volume once (syncfs), so the backup and
// the new content are on stable storage before anything relies on them. The journal is
// written atomically with its folder entry flushed before the target is touched, and the
// swap's folder entries are flushed before the journal is removed, so that a power loss leaves
// either the journal (and recovery undoes the change) or the finished change.

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "packs/Prepared.h"
#include "records/ByteCount.h"
#include "records/Errors.h"
#include "records/FileSafety.h"
#include "records/Json.h"
#include "records/Sys.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

const char* const kNotVersionFolder = "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。";

struct Journal {
    BackupKind kind = BackupKind::addons;
    std::optional<Uuid> backup;
};

std::string encodeJournal(const Journal& journal) {
    json::Json object = json::Json::object();
    object["kind"] = rawValue(journal.kind);
    if (journal.backup) {
        object["backup"] = journal.backup->text();
    }
    return json::encode(object);
}

Journal decodeJournal(const std::string& text) {
    json::Json object = json::decode(text);
    Journal journal;
    auto kind = backupKindFromRaw(json::requireString(object, "kind"));
    if (!kind) {
        throw json::DecodeError("\"kind\" is neither \"addons\" nor \"wtf\"");
    }
    journal.kind = *kind;
    if (object.contains("backup")) {
        journal.backup = json::requireUuid(object, "backup");
    }
    return journal;
}

Path journalFile(const GameClient& client) {
    return ManagerService::managerFolder(client) / "active.json";
}

// Clean-up on a failure path never replaces the failure being reported.
void removeQuietly(const Path& path) {
    try {
        FileSafety::remove(path);
    } catch (...) {
    }
}

bool hasUuidSuffix(const std::string& name, const std::string& prefix) {
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           Uuid::isValid(std::string_view(name).substr(prefix.size()));
}

void removeJournal(const GameClient& client) {
    Path journal = journalFile(client);
    if (sys::unlink(journal.c_str()) != 0) {
        throw SystemError(SystemOperation::remove, journal.native(), errno);
    }
}

// Flushes a folder's entries when the folder exists (a target's parent may never have been
// created when a transaction stopped early).
void syncIfPresent(const Path& folder) {
    if (FileSafety::isDirectory(folder)) {
        FileSafety::syncDirectory(folder);
    }
}

} // namespace

ManagerService::ManagerService(Capacity availableBytes, Hook beforeCommit, Path temporaryFolder)
    : m_capacity(std::move(availableBytes)), m_beforeCommit(std::move(beforeCommit)),
      m_temporaryFolder(std::move(temporaryFolder)) {
    if (m_temporaryFolder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        m_temporaryFolder = (tmp != nullptr && *tmp != '\0') ? Path(tmp) : Path("/tmp");
    }
}

ManagerService::~ManagerService() = default;

void ManagerService::checkClient(const GameClient& client) {
    if (!GameClient::isFlavor(client.folderName()) || !FileSafety::isDirectory(client.url())) {
        throw ManagerError(kNotVersionFolder);
    }
    FileSafety::checkPath(client.url());
}

Path ManagerService::managerFolder(const GameClient& client) {
    return client.url() / ".olvex-manager";
}

Path ManagerService::targetFolder(BackupKind kind, const GameClient& client) {
    return kind == BackupKind::addons ? client.url() / "Interface" / "AddOns" : client.url() / "WTF";
}

Path ManagerService::backupFolder(const GameClient& client, const Uuid& id) {
    return managerFolder(client) / "backups" / id.text();
}

void ManagerService::sweep(const GameClient& client) {
    Path manager = managerFolder(client);
    for (const auto& entry : FileSafety::list(manager)) {
        if (!hasUuidSuffix(entry.name, "work-") && !hasUuidSuffix(entry.name, "recover-")) {
            continue;
        }
        Path folder = manager / entry.name;
        FileSafety::checkTree(folder);
        FileSafety::checkPath(folder);
        if (FileSafety::exists(folder)) {
            FileSafety::remove(folder);
        }
    }
}

void ManagerService::recover(const GameClient& client) {
    locked(client, [] {});
}

bool ManagerService::hasPendingRecovery(const GameClient& client) {
    checkClient(client);
    Path journal = journalFile(client);
    FileSafety::checkPath(journal);
    return FileSafety::exists(journal);
}

void ManagerService::recoverUnlocked(const GameClient& client) {
    Path journalPath = journalFile(client);
    FileSafety::checkPath(journalPath);
    if (!FileSafety::exists(journalPath)) {
        return;
    }
    Journal journal = decodeJournal(FileSafety::readFile(journalPath));
    Path target = targetFolder(journal.kind, client);
    FileSafety::checkTree(target);
    if (journal.backup) {
        Path folder = backupFolder(client, *journal.backup);
        FileSafety::checkTree(folder);
        LocalBackup record = localBackupFromJson(json::decode(FileSafety::readFile(folder / "metadata.json")));
        if (record.id != *journal.backup || record.kind != journal.kind) {
            throw ManagerError("恢复日志与备份不匹配。");
        }
        Path payload = folder / "payload";
        if (!FileSafety::isDirectory(payload)) {
            throw ManagerError("恢复备份丢失，已停止操作。");
        }
        Path staging = managerFolder(client) / ("recover-" + Uuid::random().text());
        try {
            FileSafety::copyTree(payload, staging, nullptr, FileSafety::Flush::deferred);
            FileSafety::flushVolume(staging);
            FileSafety::directory(target.parent_path());
            FileSafety::remove(target);
            FileSafety::move(staging, target);
            FileSafety::syncDirectory(target.parent_path());
        } catch (...) {
            removeQuietly(staging);
            throw;
        }
        removeQuietly(staging);
    } else {
        FileSafety::remove(target);
        syncIfPresent(target.parent_path());
    }
    removeJournal(client);
    FileSafety::syncDirectory(managerFolder(client));
}

LocalBackup ManagerService::snapshot(BackupKind kind, const GameClient& client, const std::string& reason) {
    Path source = targetFolder(kind, client);
    // Sizing examines every entry as a tree check does and refuses the same links.
    std::int64_t size = FileSafety::byteSize(source);
    if (!FileSafety::isDirectory(source)) {
        throw ManagerError("未找到 " + title(kind) + " 目录，无法备份。");
    }
    if (m_control != nullptr) {
        m_control->report(OperationStage::backingUp);
        m_control->expectBytes(size);
    }
    requireSpace(client, size + kMargin);
    LocalBackup record{Uuid::random(), Date::now(), kind, reason, size};
    Path folder = backupFolder(client, record.id);
    FileSafety::directory(folder);
    try {
        FileSafety::copyTree(source, folder / "payload", m_control, FileSafety::Flush::deferred);
        // A backup is listed once its record exists, so its payload must be durable first.
        FileSafety::flushVolume(folder);
        FileSafety::writeFileAtomically(folder / "metadata.json", json::encode(toJson(record)));
    } catch (...) {
        removeQuietly(folder);
        throw;
    }
    return record;
}

void ManagerService::transaction(BackupKind kind, const GameClient& client, const std::string& reason,
                                 const Build& build) {
    Path target = targetFolder(kind, client);
    // Sizing examines every entry as a tree check does and refuses the same links.
    std::int64_t size = FileSafety::byteSize(target);
    if (m_control != nullptr) {
        m_control->report(OperationStage::preparing);
        // Most builds start from a copy of the target; those that do other work say so.
        m_control->expectBytes(size);
    }
    requireSpace(client, kMargin + 2 * size);
    Path work = managerFolder(client) / ("work-" + Uuid::random().text());
    FileSafety::directory(work);
    Path next = work / "next";
    try {
        build(next);
        FileSafety::checkTree(next);
        Journal journal{kind, std::nullopt};
        if (FileSafety::exists(target)) {
            journal.backup = snapshot(kind, client, reason).id;
        }
        // The new content (and the backup, flushed already) must be durable before the
        // journal makes the swap possible.
        FileSafety::flushVolume(work);
        if (m_control != nullptr) {
            m_control->report(OperationStage::committing);
        }
        FileSafety::writeFileAtomically(journalFile(client), encodeJournal(journal));
    } catch (...) {
        removeQuietly(work);
        throw;
    }

    try {
        FileSafety::directory(target.parent_path());
        // The old content is moved aside in one rename rather than deleted in place: the
        // version folder never shows a half-deleted target, and the window in which an
        // interruption has to be rolled back shrinks from a tree deletion to two renames.
        // It is deleted with the work folder once the change is complete.
        FileSafety::checkPath(target);
        if (FileSafety::exists(target)) {
            FileSafety::move(target, work / "previous");
        }
        if (m_beforeCommit) {
            m_beforeCommit();
        }
        FileSafety::move(next, target);
        FileSafety::syncDirectory(target.parent_path());
        FileSafety::syncDirectory(work);
        removeJournal(client);
    } catch (const std::exception& commitFailure) {
        std::string cause = describe(commitFailure);
        try {
            recoverUnlocked(client);
        } catch (const std::exception& rollbackFailure) {
            removeQuietly(work);
            throw ManagerError(
                "操作失败且自动回滚未完成：" + describe(rollbackFailure) +
                "。备份和 active.json 已保留，请勿删除 .olvex-manager；重试或重新打开此目录可恢复。原错误：" + cause);
        }
        removeQuietly(work);
        throw ManagerError("操作失败，已恢复操作前状态：" + cause);
    }
    // The change is complete. If flushing the journal's removal fails, a power loss may bring
    // the journal back and recovery would undo the change: consistent, so not reported.
    try {
        FileSafety::syncDirectory(managerFolder(client));
    } catch (...) {
    }
    removeQuietly(work);
}

std::int64_t ManagerService::requireSpace(const GameClient& client, std::int64_t bytes) {
    if (sys::access(client.url().c_str(), W_OK) != 0) {
        throw ManagerError("游戏目录不可写，请在系统设置中授予文件访问权限。");
    }
    const std::pair<const char*, const char*> folders[] = {{".olvex-manager", ".olvex-manager"},
                                                           {"Interface", "Interface"},
                                                           {"Interface/AddOns", "AddOns"},
                                                           {"WTF", "WTF"}};
    for (const auto& [relative, name] : folders) {
        Path folder = client.url() / relative;
        FileSafety::checkPath(folder);
        if (FileSafety::exists(folder) && sys::access(folder.c_str(), W_OK) != 0) {
            throw ManagerError(std::string("目录不可写：") + name + "。请检查权限后重试。");
        }
    }
    std::int64_t available = m_capacity ? m_capacity(client.url()) : freeBytes(client.url());
    if (available < bytes) {
        throw ManagerError("磁盘空间不足：至少需要 " + formatByteCount(bytes) + "，剩余 " + formatByteCount(available) +
                           "。请导出旧备份或释放空间后重试。");
    }
    return available;
}

std::int64_t ManagerService::freeBytes(const Path& folder) {
    struct ::statvfs info {};
    if (sys::statvfs(folder.c_str(), &info) != 0) {
        throw SystemError(SystemOperation::volumeQuery, folder.native(), errno);
    }
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

} // namespace olvex
