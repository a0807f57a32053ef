#pragma once

// The bodies of the olvex commands. Each asks the service through the session, prints its
// answer (text for people, JSON with --json) and raises the core's failures unchanged.

#include <optional>
#include <vector>

#include "CommandLine.h"
#include "Interrupt.h"
#include "Session.h"
#include "discovery/GameLocations.h"

namespace olvex::cli {

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

} // namespace olvex::cli
