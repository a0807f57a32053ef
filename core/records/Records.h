#pragma once

// The small value records that cross from the core to the application.

#include <cstdint>
#include <string>
#include <vector>

#include "records/GameClient.h"

namespace olvex {

// The answer of the installation and disk-space check.
struct InstallationCheck {
    std::int64_t availableBytes = 0;
    std::int64_t requiredBytes = 0;
    Path application; // the game's application found in the version folder
};

// What a clean-up of stale pack staging folders did: the bytes of the folders it removed, and
// each folder it had to leave with the description of why.
struct TemporaryCleanup {
    struct Skipped {
        Path folder;
        std::string reason;
    };
    std::int64_t removedBytes = 0;
    int removedFolders = 0;
    std::vector<Skipped> skipped;
};

// A folder in the backup store that holds a payload but whose record cannot be used (missing,
// unreadable, damaged, or naming another backup). It is never listed as a backup and never
// touched; the player is told of it so that they can decide what to keep.
struct DamagedBackup {
    Path folder;
    std::string reason;
    friend bool operator==(const DamagedBackup&, const DamagedBackup&) = default;
};

// What a version folder needs its player to know beyond its listings: the command line's
// status and the window's recovery box show it.
struct FolderAttention {
    // Another process holds the folder's lease: an operation is running there now, and what it
    // is working on is not left over.
    bool operationRunning = false;
    // A recovery journal exists.
    bool pendingRecovery = false;
    // Why that journal cannot be carried out and what to do, finished text; empty when recovery
    // can roll it back.
    std::string recoveryProblem;
    // Leftovers of finished work not yet deleted (empty while an operation runs).
    std::vector<Path> leftovers;
    std::vector<DamagedBackup> damagedBackups;
};

// One restorable sub-tree (account, realm or character) of a WTF backup.
struct ConfigurationScope {
    std::string relativePath; // relative to the backup's WTF copy, "/"-separated
    std::string title;

    const std::string& id() const { return relativePath; }
    friend bool operator==(const ConfigurationScope&, const ConfigurationScope&) = default;
};

// One add-on folder of a version folder with the fields read from its .toc file.
struct InstalledAddon {
    Path folder;
    std::string title;
    std::string version;
    std::string author;
    std::string dependencies;
    std::string interface;

    const std::string& id() const { return folder.native(); }
    friend bool operator==(const InstalledAddon&, const InstalledAddon&) = default;
};

// An add-on that an installed pack used to ship and its newer release no longer ships.
struct RetiredAddon {
    std::string packID;
    std::string name;
    bool canRemove = false;

    std::string id() const { return packID + "/" + name; }
    friend bool operator==(const RetiredAddon&, const RetiredAddon&) = default;
};

} // namespace olvex
