// The service frame: the version-folder check, the lease, recovery of an interrupted
// transaction, the sweep of leftover work folders, the automatic backup and the journalled
// transaction itself, and the free-space check that all of them run first.
//
// Durability. Copies made here and by transaction build steps defer their flushes to the
// operation's VolumeFlush, which decides once how the volume is flushed: before the journal is
// written, the transaction flushes what it wrote (one syncfs through a descriptor opened before
// the build wrote anything, or, where only per-file flushes hold, each folder the build created
// or changed, its files flushed as they were written), so the backup and the new content are on
// stable storage before anything relies on them. A backup is built under a work name and renamed into
// `backups` only once its payload is flushed and its record written. The journal is written
// atomically with its folder entry flushed before the target is touched, and the swap's folder
// entries are flushed before the journal is removed, so that a power loss leaves either the
// journal (and recovery undoes the change) or the finished change. The old content is deleted
// afterwards, in the background (see Deleter.h).
//
// Rollback never destroys a copy. The old target is set aside whole by one rename into the
// work folder that the journal names; rolling back renames it into place again, which needs
// no space and cannot fail half-way. Only when that copy is gone is the backup copied back,
// after the work folder's other content has made room. A work folder that still holds the
// set-aside target is never deleted while the target is not whole again.

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <unistd.h>

#include "base/ByteCount.h"
#include "base/Errors.h"
#include "base/Json.h"
#include "fs/FileSafety.h"
#include "fs/SharedCopy.h"
#include "fs/Sys.h"
#include "packs/Staging.h"
#include "service/BackupDigests.h"
#include "service/ManagerService.h"
#include "service/Prepared.h"

namespace olvex {

namespace {

const char* const kNotVersionFolder = "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。";

struct Journal {
    BackupKind kind = BackupKind::addons;
    std::optional<Uuid> backup;
    // The transaction's work folder ("work-" + this id), where the old target is set aside.
    std::optional<Uuid> work;
};

std::string encodeJournal(const Journal& journal) {
    json::Json object = json::Json::object();
    object["kind"] = rawValue(journal.kind);
    if (journal.backup) {
        object["backup"] = journal.backup->text();
    }
    if (journal.work) {
        object["work"] = journal.work->text();
    }
    return json::encode(object);
}

Journal journalFromJson(const json::Json& object) {
    Journal journal;
    auto kind = backupKindFromRaw(json::requireString(object, "kind"));
    if (!kind) {
        throw json::DecodeError("字段“kind”既不是“addons”也不是“wtf”");
    }
    journal.kind = *kind;
    if (object.contains("backup")) {
        journal.backup = json::requireUuid(object, "backup");
    }
    if (object.contains("work")) {
        journal.work = json::requireUuid(object, "work");
    }
    return journal;
}

// A journal this system writes is under a hundred bytes; anything near the cap is damage.
constexpr std::int64_t kJournalLimit = 65'536;

// What a player can do about a journal that cannot be read: nothing was changed by the
// failed attempt, the backups are intact, and the file can be moved aside once checked.
const char* const kJournalAdvice = "无法据此自动恢复，游戏文件未被改动，备份都还在。请核对插件和 WTF 目录（需要时从备份"
                                   "恢复），然后把这个文件移到一旁再继续；请勿删除 .olvex-manager。";

// What a player can do about a journal that reads but names a backup that is gone or damaged:
// the failed attempt changed nothing, but the backup that would undo the change is not there.
const char* const kUnusableJournalAdvice = "无法据此自动恢复，本次没有改动任何文件。请核对插件和 WTF 目录（需要时从"
                                           "其他备份恢复），然后把恢复日志移到一旁再继续；请勿删除 .olvex-manager。";

// A target that a rollback moves into the backup store waits under this prefix, with its record,
// until it is in the store.
const std::string kRollbackPrefix = "rollback-";

Path journalFile(const GameClient& client) {
    return ManagerService::managerFolder(client) / "active.json";
}

// Every way a journal can fail to read (empty, cut short, overwritten, grown huge) leaves the
// player with the same decision, so all of them carry the same advice.
Journal readJournal(const Path& file) {
    const std::string label = "恢复日志“" + file.native() + "”";
    try {
        const std::string text = FileSafety::readFile(file, kJournalLimit, label + "已损坏：文件过大。");
        return json::decodeFile(text, label, journalFromJson);
    } catch (const ManagerError& damaged) {
        throw DamagedJournalError(damaged.message() + kJournalAdvice);
    }
}

// "20240501-123456" (UTC): the date in the name of a journal set aside.
std::string fileDate(Date date) {
    const auto seconds = static_cast<std::time_t>(date.unixSeconds());
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char buffer[32];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &parts));
}

bool hasUuidSuffix(const std::string& name, const std::string& prefix) {
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           Uuid::isValid(std::string_view(name).substr(prefix.size()));
}

// What finished or interrupted work leaves in the manager folder: work and recovery folders,
// old content set aside for the background deleter, and the temporary file of an interrupted
// atomic write.
bool isLeftover(const std::string& name) {
    return hasUuidSuffix(name, "work-") || hasUuidSuffix(name, "recover-") || hasUuidSuffix(name, "trash-") ||
           hasUuidSuffix(name, ".olvex-tmp-");
}

// Never throws: a folder that cannot be examined counts as present.
bool presentQuietly(const Path& path) {
    try {
        return FileSafety::exists(path);
    } catch (...) {
        return true;
    }
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

// What the rollback of a journal will do, decided from what is on disk the same way for the
// rollback itself and for the report of whether it can be carried out.
enum class Rollback { fromPrevious, untouched, keepTarget, fromBackup };

Rollback rollbackFor(const Path& target, const std::optional<Uuid>& backup, const std::optional<Path>& work) {
    if (work) {
        const Path previous = *work / "previous";
        const Path next = *work / "next";
        FileSafety::checkPath(previous);
        FileSafety::checkPath(next);
        if (FileSafety::isDirectory(previous)) {
            return Rollback::fromPrevious;
        }
        // Stopped after the journal and before the set-aside: the target was never touched,
        // and whatever is there (also what the game made since, when there was none) stays.
        if (FileSafety::isDirectory(next) && (!backup || FileSafety::isDirectory(target))) {
            return Rollback::untouched;
        }
    }
    return backup ? Rollback::fromBackup : Rollback::keepTarget;
}

} // namespace

ManagerService::ManagerService(Capacity availableBytes, Hook beforeCommit, Path temporaryFolder, Clock clock)
    : m_capacity(std::move(availableBytes)), m_beforeCommit(std::move(beforeCommit)),
      m_temporaryFolder(temporaryFolder.empty() ? systemTemporaryFolder() : std::move(temporaryFolder)),
      m_clock(clock ? std::move(clock) : Clock(&Date::now)) {}

ManagerService::~ManagerService() = default;

void ManagerService::checkClient(const GameClient& client) {
    if (!GameClient::isFlavor(client.folderName())) {
        throw ManagerError(kNotVersionFolder);
    }
    // The path check first: a version folder that is a link, or a path past the system's
    // limit, gets its own refusal rather than the general one.
    FileSafety::checkPath(client.url());
    if (!FileSafety::isDirectory(client.url())) {
        throw ManagerError(kNotVersionFolder);
    }
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

// Deleting what finished work left behind is best effort: it runs after recovery, when nothing
// in these entries is needed any more, so it never fails the operation that runs it. What
// stays is tried again by the next operation, and leftovers() shows it meanwhile.
void ManagerService::sweep(const GameClient& client) {
    dropRecycledDuplicates(client);
    const Path manager = managerFolder(client);
    std::vector<sys::DirEntry> entries;
    try {
        entries = FileSafety::list(manager);
    } catch (...) {
        return;
    }
    if (std::none_of(entries.begin(), entries.end(), [](const auto& entry) { return isLeftover(entry.name); })) {
        return;
    }
    // A work folder may hold an old target that a journal, removed but not yet durably, would
    // put back after a power loss: nothing is deleted until the journal's absence is on disk.
    try {
        FileSafety::syncDirectory(manager);
    } catch (...) {
        return;
    }
    for (const auto& entry : entries) {
        if (!isLeftover(entry.name)) {
            continue;
        }
        try {
            // One that another process deletes now (its background deletion runs after its
            // lease) is left to that process.
            const DeletionLock deleting(manager / entry.name);
            if (deleting.heldElsewhere()) {
                continue;
            }
            // Never through a link: a leftover that holds one is left for the player to see.
            FileSafety::checkTree(manager / entry.name);
            FileSafety::removeLeftover(manager / entry.name);
        } catch (...) {
        }
    }
}

std::vector<Path> ManagerService::leftovers(const GameClient& client) {
    checkClient(client);
    const Path manager = managerFolder(client);
    std::vector<Path> found;
    if (!FileSafety::isDirectory(manager)) {
        return found;
    }
    for (const auto& entry : FileSafety::list(manager)) {
        // A folder that a process is deleting right now is not left over.
        if (isLeftover(entry.name) && !DeletionLock::isHeld(manager / entry.name)) {
            found.push_back(manager / entry.name);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool ManagerService::recover(const GameClient& client) {
    return leased(client, [&] {
        const bool recovered = recoverUnlocked(client);
        sweep(client);
        return recovered;
    });
}

JournalSetAside ManagerService::setAsideJournal(const GameClient& client) {
    return leased(client, [&] {
        const Path journal = journalFile(client);
        FileSafety::checkPath(journal);
        if (!FileSafety::exists(journal)) {
            throw ManagerError("没有恢复日志，无需移开。");
        }
        // A journal that can still be carried out is the only record of how to undo a half-done
        // change: it is rolled back, never set aside.
        const std::string problem = recoveryProblem(client);
        if (problem.empty()) {
            throw ManagerError("恢复日志完好，请直接恢复，不要移开它。");
        }
        const std::string stem = "active.json.damaged-" + fileDate(now());
        Path aside = managerFolder(client) / stem;
        for (int n = 2; FileSafety::exists(aside); ++n) {
            aside = managerFolder(client) / (stem + "-" + std::to_string(n));
        }
        FileSafety::move(journal, aside);
        FileSafety::syncDirectory(managerFolder(client));
        return JournalSetAside{aside, problem};
    });
}

std::string ManagerService::recoveryProblem(const GameClient& client) {
    const Path journalPath = journalFile(client);
    FileSafety::checkPath(journalPath);
    if (!FileSafety::exists(journalPath)) {
        return {};
    }
    try {
        const Journal journal = readJournal(journalPath);
        const Path target = targetFolder(journal.kind, client);
        if (rollbackFor(target, journal.backup, workOf(client, journal.work)) == Rollback::fromBackup) {
            journalPayload(client, *journal.backup, journal.kind);
        }
    } catch (const DamagedJournalError& unusable) {
        return unusable.message();
    }
    return {};
}

FolderAttention ManagerService::attention(const GameClient& client) {
    checkClient(client);
    FolderAttention report;
    const Path manager = managerFolder(client);
    report.operationRunning = FileSafety::isDirectory(manager) && ClientLock::isHeld(manager);
    report.pendingRecovery = hasPendingRecovery(client);
    // While another process works here, its journal and work folders are its own business.
    if (!report.operationRunning) {
        if (report.pendingRecovery) {
            report.recoveryProblem = recoveryProblem(client);
        }
        report.leftovers = leftovers(client);
    }
    report.damagedBackups = damagedBackups(client);
    return report;
}

bool ManagerService::hasPendingRecovery(const GameClient& client) {
    checkClient(client);
    Path journal = journalFile(client);
    FileSafety::checkPath(journal);
    return FileSafety::exists(journal);
}

bool ManagerService::recoverUnlocked(const GameClient& client) {
    Path journalPath = journalFile(client);
    FileSafety::checkPath(journalPath);
    if (!FileSafety::exists(journalPath)) {
        return false;
    }
    const Journal journal = readJournal(journalPath);
    // A rollback stopped while it moved a target into the backup store finishes that first.
    finishKeptTargets(client);
    Path target = targetFolder(journal.kind, client);
    FileSafety::checkTree(target);
    restoreTarget(client, target, journal.backup, journal.kind, workOf(client, journal.work));
    removeJournal(client);
    FileSafety::syncDirectory(managerFolder(client));
    return true;
}

std::optional<Path> ManagerService::workOf(const GameClient& client, const std::optional<Uuid>& work) {
    return work ? std::optional(managerFolder(client) / ("work-" + work->text())) : std::nullopt;
}

Path ManagerService::journalPayload(const GameClient& client, const Uuid& backup, BackupKind kind) {
    try {
        Path folder = backupFolder(client, backup);
        FileSafety::checkTree(folder);
        LocalBackup record = readBackupRecord(folder / "metadata.json");
        if (record.id != backup || record.kind != kind) {
            throw ManagerError("恢复日志与备份不匹配。");
        }
        Path payload = folder / "payload";
        if (!FileSafety::isDirectory(payload)) {
            throw ManagerError("恢复备份丢失，已停止操作。");
        }
        return payload;
    } catch (const std::exception& failure) {
        // Retrying cannot help a journal whose backup is gone or damaged: the player decides,
        // and the way out that a damaged journal has is open to this one too.
        throw DamagedJournalError(describe(failure) + kUnusableJournalAdvice);
    }
}

void ManagerService::restoreTarget(const GameClient& client, const Path& target, const std::optional<Uuid>& backup,
                                   BackupKind kind, const std::optional<Path>& work) {
    switch (rollbackFor(target, backup, work)) {
    case Rollback::untouched:
        // A rollback stopped after its renames looks the same: they are flushed before the journal
        // goes, or a power loss could bring the new content back with `previous` gone.
        syncIfPresent(target.parent_path());
        syncIfPresent(*work);
        return;
    case Rollback::fromPrevious: {
        // The old target, set aside whole: it goes back by rename. New content already in
        // place goes back to where it was built (also a rename), so that at every point of
        // this either the old target or a whole copy of it is there. Something else in its
        // place (the new content was never moved there) is nothing this transaction can show
        // it made: it is kept as a backup.
        const Path previous = *work / "previous";
        const Path next = *work / "next";
        FileSafety::directory(target.parent_path());
        if (FileSafety::exists(target)) {
            if (FileSafety::exists(next)) {
                keepAsBackup(client, kind, target);
            } else {
                FileSafety::move(target, next);
            }
        }
        FileSafety::move(previous, target);
        FileSafety::syncDirectory(target.parent_path());
        FileSafety::syncDirectory(*work);
        return;
    }
    case Rollback::keepTarget:
        // There was no target before the change, but nothing proves that what is there now is
        // this transaction's (the game may have made it meanwhile): it is kept as a backup.
        keepAsBackup(client, kind, target);
        syncIfPresent(target.parent_path());
        return;
    case Rollback::fromBackup:
        break;
    }
    const Path payload = journalPayload(client, *backup, kind);
    // The copy below needs the target's size once more: first make room with what is no
    // longer needed (new content never put in place, copies of earlier attempts).
    const Path manager = managerFolder(client);
    if (work) {
        FileSafety::removeQuietly(*work / "next");
    }
    for (const auto& entry : FileSafety::list(manager)) {
        if (hasUuidSuffix(entry.name, "recover-")) {
            FileSafety::removeQuietly(manager / entry.name);
        }
    }
    Path staging = manager / ("recover-" + Uuid::random().text());
    FileSafety::removeOnFailure(staging, [&] {
        FileSafety::VolumeFlush volume(manager);
        FileSafety::copyTree(payload, staging, nullptr, FileSafety::Flush::deferred);
        volume.flush();
        FileSafety::directory(target.parent_path());
        keepAsBackup(client, kind, target);
        FileSafety::move(staging, target);
        FileSafety::syncDirectory(target.parent_path());
    });
    FileSafety::removeQuietly(staging);
}

// Moved, never copied: the item is renamed into a folder that already holds its record, and
// that folder into the store. A stop between the two leaves a "rollback-" folder, which the
// next recovery (the journal is still there) moves into the store or, when the item never got
// into it, removes: it holds nothing but the record made here.
void ManagerService::keepAsBackup(const GameClient& client, BackupKind kind, const Path& item) {
    FileSafety::checkPath(item);
    if (!FileSafety::exists(item)) {
        return;
    }
    const Path manager = managerFolder(client);
    const LocalBackup record{Uuid::random(), now(), kind,
                             "回滚时移出的" + title(kind) + "（无法确认由被中断的操作写入，已保留）", std::nullopt};
    const Path kept = manager / (kRollbackPrefix + record.id.text());
    FileSafety::removeOnFailure(kept, [&] {
        FileSafety::directory(kept);
        FileSafety::syncDirectory(manager);
        FileSafety::writeFileAtomically(kept / "metadata.json", json::encode(toJson(record)));
    });
    FileSafety::move(item, kept / "payload");
    FileSafety::syncDirectory(kept);
    syncIfPresent(item.parent_path());
    storeKept(client, kept);
}

void ManagerService::storeKept(const GameClient& client, const Path& kept) {
    const Path destination =
        backupFolder(client, *Uuid::parse(kept.filename().native().substr(kRollbackPrefix.size())));
    const bool existed = FileSafety::isDirectory(destination.parent_path());
    FileSafety::directory(destination.parent_path());
    if (!existed) {
        FileSafety::syncDirectory(managerFolder(client));
    }
    FileSafety::move(kept, destination);
    FileSafety::syncDirectory(destination.parent_path());
    FileSafety::syncDirectory(managerFolder(client));
}

void ManagerService::finishKeptTargets(const GameClient& client) {
    const Path manager = managerFolder(client);
    for (const auto& entry : FileSafety::list(manager)) {
        if (!hasUuidSuffix(entry.name, kRollbackPrefix)) {
            continue;
        }
        const Path kept = manager / entry.name;
        const Path destination = backupFolder(client, *Uuid::parse(entry.name.substr(kRollbackPrefix.size())));
        FileSafety::checkPath(kept / "payload");
        FileSafety::checkPath(destination);
        if (FileSafety::exists(destination)) {
            // Its move into the store was flushed on the store's side only: a power loss kept
            // both names of the one folder, and the store's is the one that counts.
            continue;
        }
        if (FileSafety::exists(kept / "payload")) {
            storeKept(client, kept);
        } else {
            FileSafety::remove(kept);
        }
    }
}

LocalBackup ManagerService::snapshot(BackupKind kind, const GameClient& client, const std::string& reason) {
    Path source = targetFolder(kind, client);
    FileSafety::checkPath(source);
    if (!FileSafety::isDirectory(source)) {
        throw ManagerError("未找到 " + title(kind) + " 目录，无法备份。");
    }
    // Reported before sizing: sizing walks the whole tree, and for that long the stage shows
    // and a cancel is still heard.
    if (m_control != nullptr) {
        m_control->report(OperationStage::backingUp);
    }
    // Sizing examines every entry as a tree check does and refuses the same links. What it
    // examined of each file is what the copy decides on: each file is examined once.
    FileSafety::FileStamps examined;
    std::int64_t size = FileSafety::byteSize(source, examined);
    if (m_control != nullptr) {
        m_control->expectBytes(size);
    }
    requireSpace(client, size + kMargin);
    LocalBackup record{Uuid::random(), now(), kind, reason, size};
    const Path folder = backupFolder(client, record.id);
    // Built under a work name and renamed into `backups` once whole: a crash part-way leaves a
    // work folder, which the next sweep removes, never a partial backup that nobody lists.
    const Path staging = managerFolder(client) / ("work-" + Uuid::random().text());
    FileSafety::directory(folder.parent_path());
    FileSafety::directory(staging);
    bool listed = false;
    try {
        FileSafety::VolumeFlush volume(staging);
        // The digest list is written with the payload and made durable by the same flush: a
        // listed backup always has the list it was made with.
        FileSafety::writeNewFile(staging / kDigestListName,
                                 snapshotPayload(kind, client, source, staging / "payload", examined));
        // A backup is listed once its record exists, so its payload must be durable first.
        volume.flush();
        FileSafety::writeFileAtomically(staging / "metadata.json", json::encode(toJson(record)));
        FileSafety::move(staging, folder);
        listed = true;
        FileSafety::syncDirectory(folder.parent_path());
    } catch (...) {
        // A backup renamed into place whose folder entry could not be flushed is listed all the
        // same: it goes back under its work name, so that a reported failure leaves no backup.
        if (listed) {
            try {
                FileSafety::move(folder, staging);
            } catch (...) {
            }
        }
        FileSafety::removeQuietly(staging);
        throw;
    }
    return record;
}

void ManagerService::transaction(BackupKind kind, const GameClient& client, const std::string& reason,
                                 const Build& build) {
    Path target = targetFolder(kind, client);
    // Reported before sizing, which walks the whole tree: the stage shows meanwhile and a
    // cancel is heard.
    if (m_control != nullptr) {
        m_control->report(OperationStage::preparing);
    }
    // Sizing examines every entry as a tree check does and refuses the same links.
    std::int64_t size = FileSafety::byteSize(target);
    if (m_control != nullptr) {
        // Most builds start from a copy of the target; those that do other work say so. The
        // backup of the target (none when there is none), a later step, copies it once more.
        m_control->expectBytes(size);
        m_control->expectLaterBytes(size);
    }
    requireSpace(client, kMargin + 2 * size);
    const Uuid workId = Uuid::random();
    const Path work = managerFolder(client) / ("work-" + workId.text());
    const Path journalPath = journalFile(client);
    FileSafety::directory(work);
    Path next = work / "next";
    std::exception_ptr commitFailure;
    bool backedUp = false;
    try {
        // Opened before the build writes anything, so that the flush below reports every
        // write-back failure of the new content.
        FileSafety::VolumeFlush volume(work);
        build(next);
        FileSafety::checkTree(next);
        Journal journal{kind, std::nullopt, workId};
        if (FileSafety::exists(target)) {
            journal.backup = snapshot(kind, client, reason).id;
            backedUp = true;
        }
        // The new content (and the backup, flushed already) must be durable before the
        // journal makes the swap possible.
        volume.flush();
        if (m_control != nullptr) {
            m_control->report(OperationStage::committing);
        }
        FileSafety::writeFileAtomically(journalPath, encodeJournal(journal));
    } catch (...) {
        // A journal renamed into place whose folder entry could not be flushed is there all
        // the same: left alone, it would make a later operation roll the folder back over
        // the game's own writes since. So that failure is rolled back like a commit failure.
        if (!presentQuietly(journalPath)) {
            FileSafety::removeQuietly(work);
            throw;
        }
        commitFailure = std::current_exception();
    }

    if (!commitFailure) {
        try {
            FileSafety::directory(target.parent_path());
            // The old content is moved aside in one rename rather than deleted in place: the
            // version folder never shows a half-deleted target, and rolling back is a rename
            // too. It is deleted with the work folder once the change is complete.
            FileSafety::checkPath(target);
            if (FileSafety::exists(target)) {
                FileSafety::move(target, work / "previous");
            }
            if (m_beforeCommit) {
                m_beforeCommit();
            }
            FileSafety::move(next, target);
            // The work folder first: while the target's folder may still show the new content,
            // the old target must be durably in `previous`, where recovery looks for it.
            FileSafety::syncDirectory(work);
            FileSafety::syncDirectory(target.parent_path());
            if (!backedUp) {
                // A target the game made after the decision that there was none to back up was
                // set aside all the same; it is the player's, so it is kept as a backup while the
                // journal still covers the move (never deleted with the work folder).
                keepAsBackup(client, kind, work / "previous");
            }
            removeJournal(client);
        } catch (...) {
            commitFailure = std::current_exception();
        }
    }
    if (commitFailure) {
        rollBack(client, target, work, commitFailure);
    }
    // The change is complete. If flushing the journal's removal fails, a power loss may bring
    // the journal back and recovery would undo the change: consistent, so not reported. But
    // the old target set aside in the work folder is what that recovery puts back, so it stays
    // whole: the next sweep deletes it once the journal's removal is durable.
    try {
        FileSafety::syncDirectory(managerFolder(client));
    } catch (...) {
        return;
    }
    // The player does not wait for the old content to be deleted: the work folder is renamed
    // out of the way in one step and deleted in the background once the lease is released.
    // Under its own prefix it is plainly garbage: no journal names it, only the deleter and the
    // sweep touch it. A failed rename leaves the work folder, which the next sweep removes.
    const Path trash = managerFolder(client) / ("trash-" + workId.text());
    try {
        FileSafety::move(work, trash);
        m_setAside.push_back(trash);
    } catch (...) {
    }
}

void ManagerService::rollBack(const GameClient& client, const Path& target, const Path& work,
                              const std::exception_ptr& commitFailure) {
    std::string cause;
    try {
        std::rethrow_exception(commitFailure);
    } catch (const std::exception& failure) {
        cause = describe(failure);
    }
    try {
        recoverUnlocked(client);
    } catch (const std::exception& rollbackFailure) {
        // Only a journal still on disk means the rollback did not finish; without one, the
        // target is whole again and just a last flush failed.
        if (presentQuietly(journalFile(client))) {
            // The work folder stays whole: the journal names it, and it may hold the old target.
            const Path previous = work / "previous";
            const std::string kept = presentQuietly(previous) ? "原来的 " + target.filename().native() +
                                                                    " 目录完整保存在“" + previous.native() + "”。"
                                                              : "";
            throw ManagerError("操作失败且自动回滚未完成：" + describe(rollbackFailure) +
                               "。备份和 active.json 已保留，请勿删除 .olvex-manager；重试或重新打开此目录可恢复。" +
                               kept + "原错误：" + cause);
        }
    }
    FileSafety::removeLeftoverQuietly(work);
    throw ManagerError("操作失败，已恢复操作前状态：" + cause);
}

namespace {
// The files of the set-aside folders that another process is deleting now: that space is as good
// as free. Measured after the free space, so that a file deleted in between is counted in
// neither, never in both; a folder that cannot be measured counts as nothing.
std::int64_t spaceBeingFreed(const GameClient& client) noexcept {
    std::int64_t bytes = 0;
    try {
        const Path manager = ManagerService::managerFolder(client);
        for (const auto& entry : FileSafety::list(manager)) {
            const Path folder = manager / entry.name;
            if (isLeftover(entry.name) && DeletionLock::isHeld(folder)) {
                try {
                    bytes += FileSafety::regularFileBytes(folder);
                } catch (...) {
                }
            }
        }
    } catch (...) {
    }
    return bytes;
}
} // namespace

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
        available += spaceBeingFreed(client);
    }
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
