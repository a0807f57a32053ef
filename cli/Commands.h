#pragma once

// Running a parsed command. The bodies live by area (FolderCommands, PackCommands,
// BackupCommands, RecoveryCommands), each beside its rows of the command table; each asks the
// service through the session, prints its answer (text for people, JSON with --json) and
// raises the core's failures unchanged.

#include <vector>

#include "CommandLine.h"
#include "Interrupt.h"
#include "Session.h"

namespace olvex::cli {

inline constexpr const char* kDefaultRootsVariable = "OLVEX_DEFAULT_ROOTS";
inline constexpr const char* kProcRootVariable = "OLVEX_PROC_ROOT";

// What the process environment sets for the command line: the default scan roots
// (OLVEX_DEFAULT_ROOTS, a ":"-separated list, replaces the scanner's; set but empty means
// none) and the proc file system read by the game-running check (OLVEX_PROC_ROOT).
struct Environment {
    std::vector<Path> defaultRoots;
    Path procRoot = "/proc";

    static Environment fromProcess();
};

// Runs a parsed command (not "help") and returns its exit status on success. Failures are
// raised: UsageError, CancellationError, or the core's own.
int runCommand(const Invocation& invocation, Session& session, InterruptWatcher& interrupts,
               const Environment& environment);

// Each area's rows of the command table, in the order of the help.
std::vector<CommandSpec> folderCommands();
std::vector<CommandSpec> packCommands();
std::vector<CommandSpec> backupCommands();
std::vector<CommandSpec> recoveryCommands();

} // namespace olvex::cli
