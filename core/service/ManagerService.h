#pragma once

// The one object through which the core changes a game version folder. Its methods are
// synchronous, throw on failure, and must be called from one thread at a time; the
// SerialExecutor gives callers on other threads that guarantee.
//
// Every change to Interface/AddOns or WTF runs as a journalled transaction under an exclusive
// cross-process lease: the new content is built beside the target, the target is backed up,
// a journal naming the backup is written, and the target is replaced in one move. While a
// journal exists, the next locked operation first restores the target from its backup.
//
// What a finished operation no longer needs (the replaced target, a preview's staging folder)
// is deleted in the background once the operation has returned; the next locked operation of
// the same service waits for that deletion before it takes the lease.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Date.h"
#include "base/OperationControl.h"
#include "fs/ClientLock.h"
#include "fs/TreeOps.h"
#include "packs/PackRecords.h"
#include "records/Backup.h"
#include "records/GameClient.h"
#include "records/Records.h"
#include "savedvars/SavedVariablesHealth.h"
#include "service/Deleter.h"

namespace olvex {

// A recovery journal that cannot be carried out: it cannot be read (empty, cut short, overwritten
// or far too large), or the backup it needs is missing or damaged. Still a ManagerError with the
// whole message; its own type lets a front end offer its way out (setting the journal aside)
// beside the message.
class DamagedJournalError : public ManagerError {
public:
    using ManagerError::ManagerError;
};

// A scope that the backup's listing did not produce (restore of a scope, of one add-on's settings).
inline constexpr const char* kScopeNotInBackup = "配置选择不属于此备份，请重新选择账号、服务器或角色。";

// A journal moved aside, and why it could not be carried out.
struct JournalSetAside {
    Path aside;
    std::string reason;
};

class ManagerService {
public:
    using Capacity = std::function<std::int64_t(const Path&)>;
    using Hook = std::function<void()>;
    using Build = std::function<void(const Path& next)>;
    using Clock = std::function<Date()>;

    // `availableBytes` replaces the volume free-space query when given; `beforeCommit` runs
    // inside every commit after the old target is removed. `temporaryFolder` replaces the
    // platform's temporary folder (TMPDIR, else /tmp) for pack staging and housekeeping.
    // `clock` replaces the system's for every date the service records (backups, pack
    // installations, a journal set aside).
    explicit ManagerService(Capacity availableBytes = {}, Hook beforeCommit = {}, Path temporaryFolder = {},
                            Clock clock = {});
    ~ManagerService();
    ManagerService(const ManagerService&) = delete;
    ManagerService& operator=(const ManagerService&) = delete;

    static constexpr std::int64_t kMargin = 67'108'864;

    // --- Recovery ---------------------------------------------------------------------
    // Takes the lease, rolls back an interrupted transaction and sweeps leftover work and
    // recovery folders, whether or not there was a journal. True when a journal was rolled back.
    bool recover(const GameClient& client);
    bool hasPendingRecovery(const GameClient& client);
    // Moves a journal that cannot be carried out (damaged, or naming a missing or damaged
    // backup) aside under a dated name in the manager folder (never deletes it) and returns its
    // new path with why it could not be carried out. Refuses when there is no journal, or when
    // recovery can roll it back: that one is rolled back by recover, not set aside.
    JournalSetAside setAsideJournal(const GameClient& client);
    // What the folder's player must know beyond the listings: an operation running in another
    // process, a pending journal and why it cannot be carried out, leftovers, damaged backup
    // records. Takes no lease and changes nothing.
    FolderAttention attention(const GameClient& client);
    // Work and recovery folders, set-aside old content and temporary files that finished work
    // left and that could not be removed yet (each later operation tries again).
    std::vector<Path> leftovers(const GameClient& client);
    // Blocks until the background deletions of finished operations are done (the destructor
    // waits too). With a limit: true when they were done in time.
    void waitForDeletions();
    bool waitForDeletions(std::chrono::milliseconds limit);
    // What finished operations replaced and could not be deleted since the last call (after
    // waitForDeletions): each stays a leftover that later operations retry; the fronts say so
    // after the result.
    std::vector<Path> failedDeletions();

    // --- Inventory --------------------------------------------------------------------
    std::vector<InstalledAddon> installedAddons(const GameClient& client);

    // --- Backup store -----------------------------------------------------------------
    std::vector<LocalBackup> backups(const GameClient& client);
    std::vector<BackupDetails> backupDetails(const GameClient& client);
    // What the listed backups take on disk together and what removing each would free (backups
    // share the files that did not change between them). Examines every file of every backup:
    // slower than backupDetails, which reads the recorded sizes. Takes no lease.
    BackupUsage backupUsage(const GameClient& client);
    // Folders in the store with a payload whose record cannot be used: never listed, never
    // touched, named so that the player can decide.
    std::vector<DamagedBackup> damagedBackups(const GameClient& client);
    LocalBackup backupWTF(const GameClient& client, OperationControl* control = nullptr);
    void retainBackups(int count, const GameClient& client);
    void recycleBackup(const LocalBackup& backup, const GameClient& client);
    void recoverRecycledBackups(const GameClient& client);

    // --- Restore and configuration transfer -------------------------------------------
    std::vector<ConfigurationScope> configurationScopes(const LocalBackup& backup, const GameClient& client);
    void restore(const LocalBackup& backup, const GameClient& client, const std::optional<std::string>& scope,
                 OperationControl* control = nullptr);
    void exportBackup(const LocalBackup& backup, const GameClient& client, const Path& to,
                      OperationControl* control = nullptr);
    void importWTF(const Path& from, const GameClient& client, OperationControl* control = nullptr);

    // --- Add-on settings (saved variables) --------------------------------------------
    // Checks every saved-variables file of WTF (account and character level) and, for each
    // damaged one, finds the copy a repair would take: the game's `.lua.bak` beside it when
    // healthy, else the same file in the newest WTF backup that holds it healthy. A file whose
    // size, modification time and inode are those of its last check is not read again. Reads
    // only (no lease): a front end may run it after every refresh.
    SavedVariablesHealth savedVariablesHealth(const GameClient& client, OperationControl* control = nullptr);
    // Puts the source's copy in place of each named damaged file ("WTF/…" paths as the report
    // gives them), or of every damaged file that has a source when none is named: one WTF
    // transaction, so a WTF backup keeps the damaged files first and a crash is rolled back;
    // every other file stays as it is. Fails, changing nothing, when a named file is healthy,
    // unknown or has no source. Returns the files repaired with their sources.
    std::vector<DamagedSavedVariables> repairSavedVariables(const GameClient& client,
                                                            const std::vector<std::string>& relativePaths,
                                                            OperationControl* control = nullptr);
    // The add-ons whose saved variables a WTF backup holds, titled from the installed add-ons.
    std::vector<SavedVariablesAddon> savedVariablesAddons(const LocalBackup& backup, const GameClient& client);
    // Restores one add-on's settings from a WTF backup: in every SavedVariables folder (or those
    // inside `scope`, a path of configurationScopes), `<插件>.lua` and `<插件>.lua.bak` become
    // what the backup holds there (a file the backup lacks there is removed). One transaction;
    // every other file stays as it is.
    void restoreAddonSettings(const LocalBackup& backup, const GameClient& client, const std::string& addon,
                              const std::optional<std::string>& scope, OperationControl* control = nullptr);

    // --- Installation check and housekeeping ------------------------------------------
    InstallationCheck installationCheck(const GameClient& client, std::int64_t incomingBytes);
    // Removes stale staging folders; one that cannot be measured or removed (a special file
    // inside, a permission) is skipped and reported, and the clean-up goes on with the rest.
    TemporaryCleanup cleanupTemporaryFiles(Date olderThan);

    // --- Packs ------------------------------------------------------------------------
    std::vector<ManagedPack> installedPacks(const GameClient& client);
    ImportPreview preview(const Path& zip, const GameClient& client, OperationControl* control = nullptr);
    void discardPreview();
    void install(const Uuid& token, OperationControl* control = nullptr);
    std::vector<RetiredAddon> retiredAddons(const GameClient& client);
    void removeRetiredAddon(const std::string& packID, const std::string& name, const GameClient& client,
                            OperationControl* control = nullptr);

    // --- Frame (used by the operations above; public for tests of the frame) -----------
    // Fails with the version-folder message unless the client is a flavour-named directory,
    // then runs the path check on it.
    static void checkClient(const GameClient& client);
    static Path managerFolder(const GameClient& client);
    static Path targetFolder(BackupKind kind, const GameClient& client);
    static Path backupFolder(const GameClient& client, const Uuid& id);

    // Runs `body` under the lease, after rolling back an interrupted transaction and sweeping.
    template <typename Body> auto locked(const GameClient& client, Body&& body) {
        return leased(client, [&] {
            recoverUnlocked(client);
            sweep(client);
            return body();
        });
    }
    // Runs `body` under the lease without recovery: for requests that must leave a pending
    // journal (and the backup it names) as they are, or that change nothing in the folder.
    template <typename Body> auto leased(const GameClient& client, Body&& body) {
        checkClient(client);
        // The sweep must not meet a folder that this service is still deleting.
        waitForDeletions();
        // Destroyed after the lease: what the body set aside is deleted once the lease is gone.
        DeletionStart deletions(*this);
        ClientLock lease(managerFolder(client));
        return body();
    }
    void transaction(BackupKind kind, const GameClient& client, const std::string& reason, const Build& build);
    // A change of part of WTF: the space for `incoming` bytes, then a transaction whose new
    // content starts as a copy of the live WTF (an empty folder when there is none) and is
    // finished by `change`.
    void changeWtf(const GameClient& client, const std::string& reason, std::int64_t incoming, const Build& change);
    LocalBackup snapshot(BackupKind kind, const GameClient& client, const std::string& reason);
    // Fills a snapshot's payload folder from `source`, sharing the files unchanged since the newest
    // backup of the kind with it, and returns the payload's digest list (BackupDigests.h).
    // `examined`: what sizing the source just found of each file.
    std::string snapshotPayload(BackupKind kind, const GameClient& client, const Path& source, const Path& payload,
                                const FileSafety::FileStamps& examined);
    std::int64_t requireSpace(const GameClient& client, std::int64_t bytes);
    // True when a journal existed and its change was rolled back.
    bool recoverUnlocked(const GameClient& client);

    // The control of the request running now (absent between requests).
    OperationControl* control() const { return m_control; }

    // Validity-checked listing of backups shared by the store, restore and transfer. A record
    // that cannot be read is skipped, unless `strict`: then its read failure is raised, for
    // requests whose outcome must not depend on a backup silently left out.
    std::vector<LocalBackup> listBackups(const GameClient& client, bool strict = false);
    // Reads a backup's record from disk and requires it to equal the caller's copy.
    Path verifiedBackupFolder(const LocalBackup& backup, const GameClient& client);

    // Sets the current control for one request and clears it however the request ends.
    class ControlScope {
    public:
        ControlScope(ManagerService& service, OperationControl* control) : m_service(service) {
            m_service.m_control = control;
        }
        ~ControlScope() { m_service.m_control = nullptr; }
        ControlScope(const ControlScope&) = delete;
        ControlScope& operator=(const ControlScope&) = delete;

    private:
        ManagerService& m_service;
    };

private:
    // Hands what transactions set aside to the deleter when it goes out of scope.
    class DeletionStart {
    public:
        explicit DeletionStart(ManagerService& service) : m_service(service) {}
        ~DeletionStart() { m_service.startDeletions(); }
        DeletionStart(const DeletionStart&) = delete;
        DeletionStart& operator=(const DeletionStart&) = delete;

    private:
        ManagerService& m_service;
    };

    void startDeletions() noexcept;
    void sweep(const GameClient& client);
    void dropRecycledDuplicates(const GameClient& client);
    static std::optional<Path> workOf(const GameClient& client, const std::optional<Uuid>& work);
    void restoreTarget(const GameClient& client, const Path& target, const std::optional<Uuid>& backup, BackupKind kind,
                       const std::optional<Path>& work);
    // The payload of the backup a journal names, checked against the journal; DamagedJournalError
    // when it is missing or damaged.
    static Path journalPayload(const GameClient& client, const Uuid& backup, BackupKind kind);
    // A rollback never deletes what it cannot prove this system made: such an item (a target)
    // is moved whole into the backup store instead, as a backup of its kind whose reason says so.
    void keepAsBackup(const GameClient& client, BackupKind kind, const Path& item);
    void storeKept(const GameClient& client, const Path& kept);
    void finishKeptTargets(const GameClient& client);
    // Why the pending journal cannot be carried out (empty when it can, or there is none).
    std::string recoveryProblem(const GameClient& client);
    [[noreturn]] void rollBack(const GameClient& client, const Path& target, const Path& work,
                               const std::exception_ptr& commitFailure);
    std::int64_t freeBytes(const Path& folder);
    Date now() const { return m_clock(); }

    SavedVariablesHealth savedVariablesHealthUnlocked(const GameClient& client, bool strict);
    SavedVariablesVerdict cachedVerdict(const Path& file, std::int64_t& bytes);
    std::optional<SavedVariablesSource> repairSource(const GameClient& client, const std::string& relativeToWtf,
                                                     std::vector<LocalBackup>& wtfBackups);

    struct Prepared;
    std::unique_ptr<Prepared> m_prepared;
    // The last verdict of each saved-variables file checked, with what identified its content.
    struct CachedVerdict {
        std::int64_t size = 0;
        Date modified;
        std::uint64_t inode = 0;
        SavedVariablesVerdict verdict;
    };
    std::map<std::string, CachedVerdict> m_savedVariablesCache;
    Capacity m_capacity;
    Hook m_beforeCommit;
    OperationControl* m_control = nullptr;
    Path m_temporaryFolder;
    Clock m_clock;
    // Old content that finished transactions renamed aside, to be deleted after the lease.
    std::vector<Path> m_setAside;
    // Last, so that it is destroyed first: the service waits for its deletions to end.
    Deleter m_deleter;
};

} // namespace olvex
