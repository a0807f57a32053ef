#pragma once

#include <vector>

#include "records/GameClient.h"

namespace olvex {

// What one scan found beneath a list of roots. A scan never fails: every problem is here.
struct ScanReport {
    std::vector<GameClient> clients; // sorted by path text, code point order
    std::vector<Path> missingRoots;
    std::vector<Path> inaccessibleRoots;
    bool reachedLimit = false;
};

// Finds version folders (named as in the flavour table) at most three levels below each
// root, counting at most 5000 folders per scan across all roots, never entering hidden
// folders, links or version folders. Reads only.
namespace GameScanner {

constexpr int kFolderLimit = 5000;
constexpr int kDepthLimit = 3;

ScanReport scanReport(const std::vector<Path>& roots);
std::vector<GameClient> scan(const std::vector<Path>& roots);
// The roots proposed by default, fresh at each call, whether or not they exist.
std::vector<Path> defaultRoots();
// defaultRoots() for a given home folder.
std::vector<Path> defaultRoots(const Path& home);

} // namespace GameScanner
} // namespace olvex
