#include "discovery/GameScanner.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <optional>
#include <unordered_set>

#include "base/Errors.h"
#include "discovery/LauncherFiles.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

ClientSource ScanReport::sourceOf(const GameClient& client) const {
    auto it = sources.find(client.id());
    return it == sources.end() ? ClientSource{} : it->second;
}

namespace GameScanner {

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isFolder(const sys::DirEntry& entry) {
    return entry.type == DT_DIR && entry.name.front() != '.';
}

bool holds(const std::vector<sys::DirEntry>& entries, const std::string& name) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const auto& entry) { return entry.type == DT_DIR && entry.name == name; });
}

// A Windows drive holds its programs folders (names compared as Windows does, ignoring case).
bool isWindowsDrive(const std::vector<sys::DirEntry>& entries) {
    return std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
        const std::string name = lowercased(entry.name);
        return entry.type == DT_DIR && (name == "program files" || name == "program files (x86)");
    });
}

// Folders of Windows itself on a drive: thousands of folders and never a game. The programs
// folders are looked into by name instead.
bool isSystemFolder(const std::string& name) {
    static const std::unordered_set<std::string> names{
        "windows",  "program files", "program files (x86)",    "programdata", "users", "system volume information",
        "recovery", "perflogs",      "documents and settings", "msocache"};
    return name.front() == '$' || names.count(lowercased(name)) != 0;
}

class Scan {
public:
    // Admits a folder and reports it when it is a version folder; otherwise its entries, or
    // nothing when it is not to be searched (seen, a link, beyond the budget, unreadable).
    std::optional<std::vector<sys::DirEntry>> enter(const Path& url, const Path& folder, bool reportMissing,
                                                    const ClientSource& source) {
        if (!admit(folder, url, reportMissing)) {
            return std::nullopt;
        }
        if (GameClient::isFlavor(folder.filename().native())) {
            found(folder, source);
            return std::nullopt;
        }
        std::vector<sys::DirEntry> entries;
        if (sys::listDirectory(folder.c_str(), entries) != 0) {
            m_report.inaccessibleRoots.push_back(url);
            return std::nullopt;
        }
        return entries;
    }

    // Visits a folder at a depth (a root has 0; a folder that holds drives, such as /media/$USER,
    // has -1, so that each drive in it is searched as deep as a root).
    void visit(const Path& url, int depth, const ClientSource& source, bool reportMissing) {
        const Path folder = normalizedDirectory(url);
        auto listed = enter(url, folder, depth <= 0 && reportMissing, source);
        if (!listed) {
            return;
        }
        const std::vector<sys::DirEntry>& entries = *listed;
        if (holds(entries, "drive_c")) {
            searchPrefix(folder, source);
            return;
        }
        if (isWindowsDrive(entries)) {
            searchDrive(folder, entries, std::nullopt, source);
            return;
        }
        std::vector<Path> children;
        for (const auto& entry : entries) {
            if (isFolder(entry)) {
                children.push_back(folder / entry.name);
            }
        }
        if (depth >= kDepthLimit) {
            m_report.reachedLimit = m_report.reachedLimit || !children.empty();
            return;
        }
        for (const auto& child : children) {
            if (depth < 0 && source.kind == ClientSource::Kind::mountedDrive) {
                visit(child, depth + 1, {source.kind, child.native()}, false);
            } else {
                visit(child, depth + 1, source, false);
            }
        }
    }

    ScanReport finish() && {
        // std::map orders by byte value, which for UTF-8 is code point order.
        for (const auto& [path, source] : m_found) {
            m_report.clients.emplace_back(Path(path));
        }
        m_report.sources = std::move(m_found);
        return std::move(m_report);
    }

    ScanReport& report() { return m_report; }

private:
    // The steps every folder takes before it is looked into: met once, within the folder count,
    // no link or special file along its path, present, a folder. True when it is to be looked
    // into; it is then counted.
    bool admit(const Path& folder, const Path& url, bool reportMissing) {
        if (!m_visited.insert(folder.native()).second) {
            return false;
        }
        if (m_counted >= kFolderLimit) {
            m_report.reachedLimit = true;
            return false;
        }
        try {
            FileSafety::checkPath(folder);
        } catch (const std::exception&) {
            m_report.inaccessibleRoots.push_back(url);
            return false;
        }
        struct ::stat status {};
        if (sys::lstat(folder.c_str(), &status) != 0) {
            // Missing (or vanished since the check).
            if (reportMissing) {
                m_report.missingRoots.push_back(url);
            }
            return false;
        }
        if (!S_ISDIR(status.st_mode)) {
            return false;
        }
        ++m_counted;
        return true;
    }

    void found(const Path& folder, const ClientSource& source) { m_found.emplace(folder.native(), source); }

    void searchPrefix(const Path& prefix, const ClientSource& source) {
        const Path drive = prefix / "drive_c";
        if (!admit(drive, drive, false)) {
            return;
        }
        std::vector<sys::DirEntry> entries;
        if (sys::listDirectory(drive.c_str(), entries) != 0) {
            m_report.inaccessibleRoots.push_back(drive);
            return;
        }
        searchDrive(drive, entries, prefix, source);
    }

    // A drive's root, already admitted and listed; `prefix` is the Wine prefix it is C: of.
    void searchDrive(const Path& drive, const std::vector<sys::DirEntry>& entries, const std::optional<Path>& prefix,
                     const ClientSource& source) {
        for (const auto& product : installedProducts(drive / "ProgramData/Battle.net/Agent/product.db")) {
            auto path = launcher::windowsPath(product.installPath);
            auto root = path ? driveFolder(path->drive, drive, prefix) : std::nullopt;
            if (root) {
                Path folder = *root;
                for (const auto& component : path->components) {
                    folder /= component;
                }
                lookInGameFolder(folder, source);
            }
        }
        for (const char* programs : {"Program Files (x86)", "Program Files", ""}) {
            for (const char* game : {"World of Warcraft", "魔兽世界"}) {
                lookInGameFolder(drive / programs / game, source);
            }
        }
        for (const auto& entry : entries) {
            if (isFolder(entry) && !isSystemFolder(entry.name)) {
                visit(drive / entry.name, 1, source, false);
            }
        }
    }

    std::vector<launcher::ProductInstall> installedProducts(const Path& database) {
        try {
            auto bytes = FileSafety::readBounded(database, launcher::kMaxFileSize, "too large");
            return bytes ? launcher::productInstalls(*bytes) : std::vector<launcher::ProductInstall>{};
        } catch (const std::exception&) {
            m_report.unreadableFiles.push_back(database);
            return {};
        }
    }

    // The folder a drive letter stands for. In a Wine prefix that is the target of its
    // dosdevices link, resolved here because that link is how the drive is named; elsewhere
    // only C:, the drive itself, is known.
    static std::optional<Path> driveFolder(char letter, const Path& drive, const std::optional<Path>& prefix) {
        if (prefix) {
            const Path device = *prefix / "dosdevices" / (std::string(1, letter) + ":");
            struct ::stat status {};
            std::string target;
            if (sys::lstat(device.c_str(), &status) == 0) {
                if (S_ISLNK(status.st_mode)) {
                    return sys::realpath(device.c_str(), target) ? std::optional<Path>(Path(target)) : std::nullopt;
                }
                return S_ISDIR(status.st_mode) ? std::optional<Path>(device) : std::nullopt;
            }
        }
        return letter == 'c' ? std::optional<Path>(drive) : std::nullopt;
    }

    // A game folder named by a launcher or a usual place: the version folders directly in it,
    // nothing deeper.
    void lookInGameFolder(const Path& url, const ClientSource& source) {
        const Path folder = normalizedDirectory(url);
        auto listed = enter(url, folder, false, source);
        if (!listed) {
            return;
        }
        for (const auto& entry : *listed) {
            if (entry.type == DT_DIR && GameClient::isFlavor(entry.name) &&
                admit(folder / entry.name, folder / entry.name, false)) {
                found(folder / entry.name, source);
            }
        }
    }

    std::unordered_set<std::string> m_visited;
    int m_counted = 0;
    std::map<std::string, ClientSource> m_found;
    ScanReport m_report;
};

} // namespace

ScanReport scanReport(const std::vector<Path>& roots) {
    Scan scan;
    for (const auto& root : roots) {
        scan.visit(root, 0, ClientSource{}, true);
    }
    return std::move(scan).finish();
}

std::vector<GameClient> scan(const std::vector<Path>& roots) {
    return scanReport(roots).clients;
}

ScanReport scanDefaultPlaces(const UserEnvironment& environment, const std::vector<Path>& roots) {
    DefaultPlaces places = GameLocations::defaultPlaces(environment);
    Scan scan;
    scan.report().unreadableFiles = std::move(places.unreadableFiles);
    scan.report().inaccessibleRoots = std::move(places.inaccessible);
    for (const auto& place : places.launchers) {
        scan.visit(place.folder, 0, place.source, place.reportMissing);
    }
    for (const auto& root : roots) {
        scan.visit(root, 0, ClientSource{}, true);
    }
    for (const auto& place : places.drives) {
        scan.visit(place.folder, -1, place.source, place.reportMissing);
    }
    return std::move(scan).finish();
}

std::vector<Path> defaultRoots() {
    DefaultPlaces places = GameLocations::defaultPlaces(UserEnvironment::fromProcess());
    std::vector<Path> roots;
    for (const auto* list : {&places.launchers, &places.drives}) {
        for (const auto& place : *list) {
            roots.push_back(place.folder);
        }
    }
    return roots;
}

} // namespace GameScanner
} // namespace olvex
