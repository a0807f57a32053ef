#pragma once

#include <map>
#include <string>
#include <vector>

#include "discovery/GameLocations.h"
#include "records/GameClient.h"

namespace olvex {

// What one scan found beneath a list of roots. A scan never fails: every problem is here.
struct ScanReport {
    std::vector<GameClient> clients; // sorted by path text, code point order
    std::vector<Path> missingRoots;
    std::vector<Path> inaccessibleRoots;
    bool reachedLimit = false;
    // Launcher records (Lutris, Steam, the Battle.net agent's database) that were damaged, too
    // large or unreadable, and so not examined; the usual folders were searched all the same.
    std::vector<Path> unreadableFiles = {};
    // How each client was found, by its id; the first way met when there were several. (The
    // two fields added last have initialisers, so that a report written as a brace list of
    // the first four fields stays complete.)
    std::map<std::string, ClientSource> sources = {};

    // The source of a client of this report ("picked by hand" for any other).
    ClientSource sourceOf(const GameClient& client) const;
};

// Finds version folders (named as in the flavour table) at most three levels below each root,
// counting at most 5000 folders per scan across all roots, never entering hidden folders,
// links or version folders. Reads only.
//
// A Windows game on Linux lives inside a Wine prefix, in the Windows layout, so every folder
// met is also recognised for what it is: a Wine prefix (it holds drive_c) is searched through
// its drive C:, and a Windows drive (it holds "Program Files") first through the Battle.net
// agent's database of installed games (ProgramData/Battle.net/Agent/product.db, its paths
// mapped to folders through the prefix's dosdevices links), then in the usual folders
// ("Program Files (x86)", "Program Files" and the drive itself, each holding "World of
// Warcraft" or "魔兽世界"), then in its other folders, not its system ones, three levels down.
// A drive letter's link is followed only to the folder that a database path names there, and
// only the version folders directly in it are looked at: no drive reached through a link
// (z: is the whole file system) is ever walked.
namespace GameScanner {

constexpr int kFolderLimit = 5000;
constexpr int kDepthLimit = 3;

// The roots as folders the user picked.
ScanReport scanReport(const std::vector<Path>& roots);
std::vector<GameClient> scan(const std::vector<Path>& roots);
// The platform's default places for the environment (GameLocations), then the roots the user
// picked, then the mounted drives.
ScanReport scanDefaultPlaces(const UserEnvironment& environment, const std::vector<Path>& roots);
// The folders of the default places of this process's environment, fresh at each call, for
// callers that still pass them as plain roots (they are then reported as picked).
std::vector<Path> defaultRoots();

} // namespace GameScanner
} // namespace olvex
