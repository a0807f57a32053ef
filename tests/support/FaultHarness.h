#pragma once

// Runs one changing operation under every possible injected file-system failure and crash,
// and checks that the version folder ends either as before or as intended, never in between.
//
// For a case, a clean reference run counts the N calls the operation makes through the
// file-system seam. Then for every n in 1..N, on a fresh copy of the fixture: call n fails
// with EIO (and with ENOSPC when it is a write); and, in a child process, the process ends at
// call n. After each, a fresh service runs recovery, and the harness checks:
//   - the case's state equals the state before or the state after the clean run;
//   - an operation that reported success left exactly the state after;
//   - no journal, work or recovery folder, or temporary file of an atomic write remains;
//   - every folder in backups/ is a whole backup;
//   - every backup that existed before is complete in exactly one of backups/ and
//     recycled-backups/.

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "records/Sys.h"
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
};

// Test names and logs show a case by its name, not as a dump of its bytes.
inline void PrintTo(const FaultCase& faultCase, std::ostream* out) {
    *out << faultCase.name;
}

struct FaultRunSummary {
    long calls = 0; // N of the clean run
    long cases = 0; // injected runs checked
};

#ifdef OLVEX_FAULT_INJECTION
// A full disk for an injector: every call that needs space fails with ENOSPC (writes,
// creating opens, new folders); renames and removals, which need none, still run.
int diskFull(const sys::fault::Call& call);
#endif

// Runs the whole sweep with gtest assertions; stops at the first failing injection.
FaultRunSummary runFaultCase(const FaultCase& faultCase);

// Serialises a tree (relative path → content) as text for state comparison.
std::string treeState(const Path& root, const std::string& skipTopLevel = ".olvex-manager");

} // namespace olvex::test
