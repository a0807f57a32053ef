#pragma once

// Runs one changing operation under injected file-system failures, crashes and power losses,
// and checks that the version folder ends either as before or as intended, never in between.
//
// For a case, a clean reference run records every call the operation makes through the
// file-system seam (N calls). Each row then runs the operation on fresh copies of the fixture:
//   single       call n fails with EIO (and ENOSPC when it is a write); the process ends at n.
//   secondFault  call n fails; then each call m the failing run makes afterwards (its
//                rollback and clean-up) fails with EIO as well, or the process ends there.
//   persistent   from call n on, every call that needs space fails with ENOSPC; every
//                mutating call fails with EROFS; every close fails with EIO; every unlink
//                fails with EIO. Once: every unlock fails with EIO.
//   doubleCrash  the process ends at call n, then the recovery of that ends at each of its
//                calls m, and a third recovery runs clean.
//   powerLoss    the power fails before call n: only what was flushed is kept (see below).
//   failedPowerLoss  call n fails with EIO, and the power fails before each call m >= n of that
//                failing run (its rollback and its flushes included).
// The two power-loss rows run again per file (…PerFile): the file layer then flushes each file
// and folder instead of the volume, and the model sees only those flushes.
// Rows with many runs are sampled deterministically (the printed line says which and how
// many): the single and power-loss rows run whole; the two-fault rows take every first fault
// or crash after the journal is in place and a fixed stride of those before it, then a fixed
// stride of the pairs; the persistent row every one of its modes at a fixed stride of the calls;
// the failed power-loss row the first faults as the two-fault rows do, and every later point of
// each. OLVEX_FAULT_SWEEP=full runs every one.
//
// A failure must report its class. With one fault: before the operation's journal is in place
// a plain error without the rollback prefix, and the target as before; after it
// "操作失败，已恢复操作前状态：" with the target as before and no journal. With more faults the
// rollback itself may fail ("操作失败且自动回滚未完成：", the journal kept), and a fault that
// hides whether the journal got into place may be answered by a rollback. A success must leave
// exactly the state after. Then a fresh service runs recovery, and the harness checks:
//   - the case's state equals the state before or the state after the clean run, and the
//     state after when the operation had reported success;
//   - no journal, work or recovery folder, or temporary file of an atomic write remains;
//   - every folder in backups/ is a whole backup, and every backup made by the operation
//     holds exactly the target as it was before;
//   - every backup that existed before is complete in exactly one of backups/ and
//     recycled-backups/;
//   - nothing the player had is deleted: every file of a target as it was before is found
//     again, with its content, in the target or in a backup of its kind (what a rollback could
//     not prove it made is kept as such a backup, and exempt from the check above).
//
// Power-loss model. The reference run records each mutation (file creation and truncation,
// write with its offset and bytes, rename, hard link, unlink, mkdir, rmdir) and each flush (fsync of a
// file or folder, syncfs) on a model of the fixture's folder: every file and folder is a node;
// a folder has its entries as the process sees them and its durable entries; a file has its
// bytes and its durable bytes. fsync of a file makes its bytes durable, fsync of a folder its
// entries, syncfs everything. A power loss before call n keeps the durable entries and bytes
// of the calls before n (a file never flushed is empty; a rename changes two folders, each
// durable on its own flush, so a renamed item may be kept in both places or in neither). As a
// file system may also write a folder back on its own, in any order, each point is also tried
// with the unflushed entries of all, each one, and all but one of the changed folders written
// back (file bytes never are; a rename is written back whole, both its folders or neither).
// Identical disk states are checked once. Modes are not modelled
// (no case depends on them). The model must replay the clean run exactly (its final visible
// tree is compared with the disk). After a power loss during the run nothing was reported, so
// only "as before or as intended" and the backup and leftover checks apply; a power loss after
// it returned must keep what it reported (as intended after a success, as before after a
// failure, unless the case allows intermediate states; a success despite an injected fault may
// be one whose journal removal was not flushed, which a power loss undoes whole). While the
// operation's
// journal is durable, recovery must undo the change, and once its removal is durable the
// target must be as intended (undone, after a failed run). A crash or failure that leaves the
// operation's journal on disk must be undone by recovery in every row. A recovery (a case whose journal existed before)
// must end as intended in every row: stopped anywhere, the next recovery finishes it.

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fs/Sys.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

namespace olvex::test {

struct FaultFixture {
    TempDir dir;
    Path root;      // the version folder, "_retail_"
    Path temporary; // the service's temporary folder
    GameClient client;
    std::unique_ptr<ManagerService> service;
    std::map<std::string, std::string> notes; // whatever a case's setup wants to hand on
    // Set for rows with more than one fault, where a best-effort clean-up may fail as well.
    bool cleanupMayFail = false;

    FaultFixture();
    void renewService();
    Path addons() const { return root / "Interface/AddOns"; }
    Path manager() const { return root / ".olvex-manager"; }
};

struct FaultCase {
    std::string name;
    std::function<void(FaultFixture&)> setup;
    std::function<void(FaultFixture&)> operation;
    // The state that must be either the old or the new one. Default: the version folder's
    // tree without the manager folder.
    std::function<std::string(FaultFixture&)> state = nullptr;
    // For operations made of several independent steps (thinning recycles one backup after
    // another), any state is acceptable as long as the invariants hold.
    bool intermediateStatesAllowed = false;
    // Extra checks after recovery.
    std::function<void(FaultFixture&)> invariant = nullptr;
    // What the player does after the operation stopped. Default: the service's recovery.
    std::function<void(FaultFixture&)> recovery = nullptr;
    // An operation that may stop at once on any failure may make no call a second fault could
    // hit (which first faults the sample picks decides): its second-fault row may run none.
    bool noSecondFault = false;
    // For a recovery case: the files of the target (relative to it) that the interrupted
    // transaction itself wrote there, which its rollback may take back into its work folder.
    std::vector<std::string> madeByTheTransaction = {};
};

// Test names and logs show a case by its name, not as a dump of its bytes.
inline void PrintTo(const FaultCase& faultCase, std::ostream* out) {
    *out << faultCase.name;
}

// The power-loss rows run in both flush modes: as the volume decides (syncfs on the test's
// volume) and per file, as on FUSE (statfs reports every volume as FUSE, sys::fault::reportFuse).
// OLVEX_FAULT_FLUSH=perFile runs every row per file.
enum class FaultRow {
    single,
    secondFault,
    persistent,
    doubleCrash,
    powerLoss,
    powerLossPerFile,
    failedPowerLoss,
    failedPowerLossPerFile
};
const char* rowName(FaultRow row);

struct FaultRunSummary {
    long calls = 0;       // N of the clean run
    long cases = 0;       // injected runs checked
    std::string sampling; // which of the row's runs were chosen
    bool perFile = false; // the file layer flushed each file and folder (no syncfs)
};

#ifdef OLVEX_FAULT_INJECTION
// A full disk for an injector: every call that needs space fails with ENOSPC (writes,
// creating opens, new folders); renames and removals, which need none, still run.
int diskFull(const sys::fault::Call& call);
#endif

// Runs one row of the sweep with gtest assertions; stops at the first failing injection.
FaultRunSummary runFaultRow(const FaultCase& faultCase, FaultRow row);

// Serialises a tree (relative path → content) as text for state comparison.
std::string treeState(const Path& root, const std::string& skipTopLevel = ".olvex-manager");

} // namespace olvex::test
