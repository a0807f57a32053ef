// The backup store of a version folder: listing and measuring backups, the manual WTF
// backup, thinning to the newest few per kind, setting backups aside in recycled-backups and
// bringing them back.
//
// Nothing here deletes a backup: every change is one rename of a whole backup folder between
// backups and recycled-backups, so at any instant (a crash included) each backup folder is
// complete in exactly one of them. Anything in backups that is not a valid backup (a partial
// snapshot left by a crash, a foreign file, a damaged record) is invisible and left alone.

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <map>
#include <set>

#include "base/Errors.h"
#include "base/Json.h"
#include "fs/FileSafety.h"
#include "fs/SharedCopy.h"
#include "fs/Sys.h"
#include "service/BackupDigests.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

const char* const kPendingTransaction = "存在待恢复事务，所有备份均已保护。请先恢复中断操作。";
const char* const kRecordMismatch = "备份记录不匹配。";
const char* const kManualReason = "手动配置备份";

Path storeFolder(const GameClient& client) {
    return ManagerService::managerFolder(client) / "backups";
}

Path recycleFolder(const GameClient& client) {
    return ManagerService::managerFolder(client) / "recycled-backups";
}

// A valid backup and the folder it was found in (its name may be a lower-case spelling).
struct StoredBackup {
    LocalBackup record;
    Path folder;
};

// Whether an item is a real folder. Missing is an answer; any other failure to examine it is
// raised, as the path check that ran just before would have raised it.
bool isFolder(const Path& path) {
    struct ::stat st {};
    if (sys::lstat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return false;
    }
    throw SystemError(SystemOperation::examine, path.native(), errno);
}

// What reading a record file gave: its bytes; nothing, when it is missing or larger than any
// record (a partial or foreign backup folder); or the failure of the read (the file's path
// check included, and a special file swapped in after the listing's check).
struct RecordRead {
    std::optional<std::string> bytes;
    std::exception_ptr failure;
};

const char* const kRecordTooLarge = "备份记录过大。";

RecordRead readRecord(const Path& file) {
    try {
        return {FileSafety::readBounded(file, kBackupRecordLimit, kRecordTooLarge), nullptr};
    } catch (const ManagerError& refusal) {
        if (refusal.message() == kRecordTooLarge) {
            return {};
        }
        return {std::nullopt, std::current_exception()};
    } catch (const SystemError&) {
        return {std::nullopt, std::current_exception()};
    }
}

// The valid backups, newest first. A record that cannot be read is skipped, like a damaged
// one; `strict` raises that read failure instead, for thinning: a backup it cannot see is one
// it cannot set aside, and it must not report success having skipped one.
std::vector<StoredBackup> listStored(const GameClient& client, bool strict = false,
                                     std::vector<DamagedBackup>* damaged = nullptr) {
    ManagerService::checkClient(client);
    const Path store = storeFolder(client);
    FileSafety::checkPath(store);
    if (!FileSafety::exists(store)) {
        return {};
    }
    std::vector<StoredBackup> stored;
    for (const auto& entry : FileSafety::list(store)) {
        auto id = Uuid::parse(entry.name);
        if (!id) {
            continue;
        }
        const Path folder = store / entry.name;
        // A link or special file inside the store is an error, never a skip.
        FileSafety::checkPath(folder);
        if (!isFolder(folder)) {
            continue; // a plain file named like a backup has no record below it
        }
        const Path metadata = folder / "metadata.json";
        const Path payload = folder / "payload";
        FileSafety::checkPath(metadata);
        FileSafety::checkPath(payload);
        RecordRead read = readRecord(metadata);
        if (read.failure && strict) {
            std::rethrow_exception(read.failure);
        }
        // Only a folder with a payload was a backup once; without one it is a partial backup
        // or foreign, and not worth the player's attention.
        auto note = [&](std::string reason) {
            if (damaged != nullptr && isFolder(payload)) {
                damaged->push_back({folder, std::move(reason)});
            }
        };
        if (!read.bytes) {
            if (read.failure) {
                try {
                    std::rethrow_exception(read.failure);
                } catch (const std::exception& failure) {
                    note(describe(failure));
                }
            } else {
                note(FileSafety::exists(metadata) ? kRecordTooLarge : "备份记录缺失。");
            }
            continue;
        }
        LocalBackup record;
        try {
            record = localBackupFromJson(json::decode(*read.bytes));
        } catch (const std::exception&) {
            if (damaged != nullptr) {
                // Read again for the message that names the file and what is wrong in it.
                try {
                    readBackupRecord(metadata);
                } catch (const std::exception& failure) {
                    note(describe(failure));
                }
            }
            continue;
        }
        if (record.id != *id) {
            note("备份记录的编号与文件夹名不符。");
            continue;
        }
        if (!isFolder(payload)) {
            continue;
        }
        stored.push_back({std::move(record), folder});
    }
    std::stable_sort(stored.begin(), stored.end(),
                     [](const auto& a, const auto& b) { return a.record.date > b.record.date; });
    return stored;
}

// UUIDs named by the entries of a folder, whatever the spelling of each name.
std::set<Uuid> uuidsIn(const Path& folder) {
    std::set<Uuid> ids;
    if (FileSafety::isDirectory(folder)) {
        for (const auto& entry : FileSafety::list(folder)) {
            if (auto id = Uuid::parse(entry.name)) {
                ids.insert(*id);
            }
        }
    }
    return ids;
}

// The folder of a backup in the store: the canonical upper-case name, or another spelling of
// the same UUID (the listing accepts both; on a case-sensitive volume they differ).
Path locateBackupFolder(const GameClient& client, const Uuid& id) {
    const Path canonical = ManagerService::backupFolder(client, id);
    FileSafety::checkPath(canonical);
    if (FileSafety::exists(canonical)) {
        return canonical;
    }
    const Path store = canonical.parent_path();
    if (FileSafety::isDirectory(store)) {
        for (const auto& entry : FileSafety::list(store)) {
            if (Uuid::parse(entry.name) == id) {
                return store / entry.name;
            }
        }
    }
    return canonical;
}

// Creates a folder of the store with its entry flushed: a backup moved into a folder whose
// own entry a power loss could take back would be lost with it.
void storeArea(const Path& folder) {
    const bool existed = FileSafety::isDirectory(folder);
    FileSafety::directory(folder);
    if (!existed) {
        FileSafety::syncDirectory(folder.parent_path());
    }
}

} // namespace

std::vector<LocalBackup> ManagerService::listBackups(const GameClient& client, bool strict) {
    std::vector<LocalBackup> records;
    for (auto& stored : listStored(client, strict)) {
        records.push_back(std::move(stored.record));
    }
    return records;
}

Path ManagerService::verifiedBackupFolder(const LocalBackup& backup, const GameClient& client) {
    const Path folder = locateBackupFolder(client, backup.id);
    FileSafety::checkTree(folder);
    LocalBackup onDisk = readBackupRecord(folder / "metadata.json");
    if (onDisk != backup) {
        throw ManagerError(kRecordMismatch);
    }
    return folder;
}

std::vector<LocalBackup> ManagerService::backups(const GameClient& client) {
    return listBackups(client);
}

std::vector<BackupDetails> ManagerService::backupDetails(const GameClient& client) {
    std::vector<BackupDetails> details;
    for (auto& stored : listStored(client)) {
        std::int64_t bytes = stored.record.byteCount ? *stored.record.byteCount : FileSafety::byteSize(stored.folder);
        details.push_back({std::move(stored.record), bytes});
    }
    return details;
}

BackupUsage ManagerService::backupUsage(const GameClient& client) {
    struct Names {
        std::int64_t size = 0;
        std::uint64_t links = 0;
        std::map<Uuid, std::uint64_t> inBackup;
    };
    std::map<std::pair<std::uint64_t, std::uint64_t>, Names> files;
    BackupUsage usage;
    for (const auto& stored : listStored(client)) {
        usage.freedBytes[stored.record.id] = 0;
        for (const auto& inode : FileSafety::inodesBelow(stored.folder / "payload")) {
            Names& file = files[{inode.device, inode.inode}];
            file.size = inode.size;
            file.links = inode.links;
            ++file.inBackup[stored.record.id];
        }
    }
    for (const auto& [key, file] : files) {
        usage.occupiedBytes += file.size;
        // Freed only when every name of the file is in that one backup: a name anywhere else (a
        // listed or recycled backup) keeps it.
        if (file.inBackup.size() == 1 && file.inBackup.begin()->second == file.links) {
            usage.freedBytes[file.inBackup.begin()->first] += file.size;
        }
    }
    return usage;
}

std::string ManagerService::snapshotPayload(BackupKind kind, const GameClient& client, const Path& source,
                                            const Path& payload, const FileSafety::FileStamps& examined) {
    // Only the newest backup of the kind is shared with, and only when it has its digest list.
    std::optional<FileSafety::StoredEntries> recorded;
    std::optional<FileSafety::LinkSource> earlier;
    try {
        for (const auto& stored : listStored(client)) {
            if (stored.record.kind == kind) {
                recorded = readDigestList(stored.folder);
                if (recorded) {
                    earlier = FileSafety::LinkSource{stored.folder / "payload", &*recorded};
                }
                break;
            }
        }
    } catch (const std::exception&) {
        // A store that cannot be listed has nothing to share: the backup is copied whole.
    }
    return encodeDigestList(FileSafety::copySharing(source, payload, earlier, examined, m_control));
}

std::vector<DamagedBackup> ManagerService::damagedBackups(const GameClient& client) {
    std::vector<DamagedBackup> damaged;
    listStored(client, false, &damaged);
    std::sort(damaged.begin(), damaged.end(), [](const auto& a, const auto& b) { return a.folder < b.folder; });
    return damaged;
}

LocalBackup ManagerService::backupWTF(const GameClient& client, OperationControl* control) {
    ControlScope scope(*this, control);
    return locked(client, [&] { return snapshot(BackupKind::wtf, client, kManualReason); });
}

namespace {

// Moves a whole backup between the store's areas, durably before it returns: its new folder
// entry is flushed before the old one's removal, so that a power loss in between may show it in
// both areas but never in neither. A move whose flush fails is taken back (flushed the same
// way, quietly), so that a reported failure leaves the backup where it was.
void moveInStore(const Path& from, const Path& to) {
    FileSafety::move(from, to);
    try {
        FileSafety::syncDirectory(to.parent_path());
        FileSafety::syncDirectory(from.parent_path());
    } catch (...) {
        try {
            FileSafety::move(to, from);
            FileSafety::syncDirectory(from.parent_path());
            FileSafety::syncDirectory(to.parent_path());
        } catch (...) {
        }
        throw;
    }
}

} // namespace

// A power loss while a backup moved between the store's areas may leave it in both (its new
// entry is flushed first). The listed one stands, and the one in the recycle area goes, but only
// when it is the same backup: the same record and the same payload size. Best effort, one entry
// at a time, as the rest of the sweep.
void ManagerService::dropRecycledDuplicates(const GameClient& client) {
    const Path recycled = recycleFolder(client);
    std::vector<sys::DirEntry> entries;
    try {
        if (!FileSafety::isDirectory(recycled)) {
            return;
        }
        entries = FileSafety::list(recycled);
    } catch (...) {
        return;
    }
    for (const auto& entry : entries) {
        const auto id = Uuid::parse(entry.name);
        if (!id) {
            continue;
        }
        try {
            const Path listed = backupFolder(client, *id);
            const Path duplicate = recycled / entry.name;
            if (!FileSafety::isDirectory(listed)) {
                continue;
            }
            FileSafety::checkTree(duplicate);
            if (readBackupRecord(duplicate / "metadata.json") == readBackupRecord(listed / "metadata.json") &&
                FileSafety::byteSize(duplicate / "payload") == FileSafety::byteSize(listed / "payload")) {
                FileSafety::removeLeftover(duplicate);
            }
        } catch (...) {
            // A damaged or unreadable one stays for the player to see.
        }
    }
}

void ManagerService::recycleBackup(const LocalBackup& backup, const GameClient& client) {
    // No recovery here: the backup a pending journal names must stay where recovery finds it,
    // so a pending journal refuses every recycling instead.
    leased(client, [&] {
        if (hasPendingRecovery(client)) {
            throw ManagerError(kPendingTransaction);
        }
        const Path folder = verifiedBackupFolder(backup, client);
        const Path recycled = recycleFolder(client);
        storeArea(recycled);
        const Path destination = recycled / backup.id.text();
        FileSafety::checkPath(destination);
        // rename(2) would silently replace an empty folder of that name; the store never replaces.
        if (FileSafety::exists(destination)) {
            throw SystemError(SystemOperation::move, folder.native(), EEXIST);
        }
        moveInStore(folder, destination);
    });
}

void ManagerService::retainBackups(int count, const GameClient& client) {
    if (count < 1) {
        throw ManagerError("至少保留一份备份。");
    }
    for (BackupKind kind : {BackupKind::addons, BackupKind::wtf}) {
        int kept = 0;
        for (const auto& stored : listStored(client, true)) {
            if (stored.record.kind == kind && ++kept > count) {
                recycleBackup(stored.record, client);
            }
        }
    }
}

void ManagerService::recoverRecycledBackups(const GameClient& client) {
    // No recovery, and a pending journal does not stop this: bringing backups back can only
    // help a recovery that needs one.
    leased(client, [&] {
        const Path recycled = recycleFolder(client);
        FileSafety::checkTree(recycled);
        if (!FileSafety::exists(recycled)) {
            return;
        }
        const Path store = storeFolder(client);
        FileSafety::checkPath(store);
        std::set<Uuid> present = uuidsIn(store);
        for (const auto& entry : FileSafety::list(recycled)) {
            auto id = Uuid::parse(entry.name);
            if (!id) {
                continue;
            }
            const Path destination = store / id->text();
            FileSafety::checkPath(destination);
            if (present.count(*id) != 0 || FileSafety::exists(destination)) {
                throw ManagerError("备份 ID 冲突，已停止恢复。");
            }
            storeArea(store);
            moveInStore(recycled / entry.name, destination);
            present.insert(*id);
        }
    });
}

} // namespace olvex
