#include "discovery/GameScanner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <pwd.h>
#include <set>
#include <unistd.h>
#include <unordered_set>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex::GameScanner {

namespace {

struct Scan {
    std::unordered_set<std::string> visited;
    int counted = 0;
    std::set<std::string> found;
    ScanReport report;
};

void visit(Scan& scan, const Path& url, int depth) {
    Path folder = normalizedDirectory(url);
    if (!scan.visited.insert(folder.native()).second) {
        return;
    }
    if (scan.counted >= kFolderLimit) {
        scan.report.reachedLimit = true;
        return;
    }
    try {
        FileSafety::checkPath(folder);
    } catch (const ManagerError&) {
        scan.report.inaccessibleRoots.push_back(url);
        return;
    }
    struct ::stat st {};
    if (sys::lstat(folder.c_str(), &st) != 0) {
        // Missing (or vanished since the check): only a root is worth reporting.
        if (depth == 0) {
            scan.report.missingRoots.push_back(url);
        }
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        return;
    }
    ++scan.counted;
    if (GameClient::isFlavor(folder.filename().native())) {
        scan.found.insert(folder.native());
        return;
    }
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(folder.c_str(), entries) != 0) {
        scan.report.inaccessibleRoots.push_back(url);
        return;
    }
    std::vector<Path> children;
    for (const auto& entry : entries) {
        if (entry.name.front() == '.' || entry.type != DT_DIR) {
            continue;
        }
        children.push_back(folder / entry.name);
    }
    if (depth >= kDepthLimit) {
        if (!children.empty()) {
            scan.report.reachedLimit = true;
        }
        return;
    }
    for (const auto& child : children) {
        visit(scan, child, depth + 1);
    }
}

} // namespace

ScanReport scanReport(const std::vector<Path>& roots) {
    Scan scan;
    for (const auto& root : roots) {
        visit(scan, root, 0);
    }
    // std::set<std::string> orders by byte value, which for UTF-8 is code point order.
    for (const auto& path : scan.found) {
        scan.report.clients.emplace_back(Path(path));
    }
    return std::move(scan.report);
}

std::vector<GameClient> scan(const std::vector<Path>& roots) {
    return scanReport(roots).clients;
}

std::vector<Path> defaultRoots(const Path& home) {
    return {Path("/Applications/World of Warcraft"), Path("/Applications/魔兽世界"), home / "Games",
            home / "Applications", Path("/Volumes")};
}

std::vector<Path> defaultRoots() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr ? entry->pw_dir : "/";
    }
    return defaultRoots(Path(home));
}

} // namespace olvex::GameScanner
