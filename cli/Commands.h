#pragma once

// Running a parsed command. The bodies live by area (FolderCommands, PackCommands,
// BackupCommands, SettingsCommands, RecoveryCommands), each beside its rows of the command table; each asks the
// service through the session, prints its answer (text for people, JSON with --json) and
// raises the core's failures unchanged.

#include <optional>
#include <vector>

#include "CommandLine.h"
#include "Interrupt.h"
#include "Session.h"
#include "discovery/GameLocations.h"

namespace olvex::cli {

inline constexpr const char* kDefaultRootsVariable = "OLVEX_DEFAULT_ROOTS";
inline constexpr const char* kMountRootsVariable = "OLVEX_MOUNT_ROOTS";
inline constexpr const char* kProcRootVariable = "OLVEX_PROC_ROOT";

// What the process environment sets for the command line: the user's folders that name the
// default places (HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, WINEPREFIX, USER; OLVEX_MOUNT_ROOTS, a
// ":"-separated list, replaces the folders drives are mounted under), plain roots in place of
// the default places (OLVEX_DEFAULT_ROOTS, ":"-separated; set but empty means none) and the
// proc file system read by the game-running check (OLVEX_PROC_ROOT).
struct Environment {
    UserEnvironment user;
    std::optional<std::vector<Path>> defaultRoots;
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
std::vector<CommandSpec> settingsCommands();
std::vector<CommandSpec> recoveryCommands();

} // namespace olvex::cli
