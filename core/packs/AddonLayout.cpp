// Where a pack's add-on folders lie inside an unpacked ZIP: every layout a pack may use is a
// candidate, and exactly one must hold add-on folders.

#include "packs/AddonLayout.h"

#include <algorithm>
#include <dirent.h>
#include <set>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

const char* const kNoUniqueRoot = "无法唯一识别插件目录。请提供 AddOns/、Interface/AddOns/ 或直接包含各插件文件夹的 "
                                  "ZIP；多版本包请先拆分。";

bool ignoredName(const std::string& name) {
    return name.empty() || name.front() == '.' || name == "__MACOSX";
}

// The part of a file name after its last ".", as a path extension (none for ".toc" itself).
std::string extensionOf(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

std::string stemOf(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Whether a folder directly holds a TOC named after it, with or without a flavour suffix.
bool hasOwnToc(const Path& folder, const std::string& name) {
    std::string lowered = text::lowercased(name);
    for (const auto& entry : FileSafety::list(folder)) {
        if (entry.type == DT_DIR || text::lowercased(extensionOf(entry.name)) != "toc") {
            continue;
        }
        std::string stem = text::lowercased(stemOf(entry.name));
        if (stem == lowered || stem.rfind(lowered + "_", 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

// The sorted add-on folder names of an add-on root: every visible entry must be a folder that
// holds its own TOC, and no two names may fold to the same name.
std::vector<std::string> addonNames(const Path& folder) {
    std::vector<sys::DirEntry> entries;
    for (auto& entry : FileSafety::list(folder)) {
        if (!ignoredName(entry.name)) {
            entries.push_back(std::move(entry));
        }
    }
    if (entries.empty()) {
        throw ManagerError("整合包中没有插件。");
    }
    std::set<std::string> folded;
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        if (entry.type != DT_DIR || !hasOwnToc(folder / entry.name, entry.name)) {
            throw ManagerError("插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：" + entry.name +
                               "。WTF 配置不会从 ZIP 导入。");
        }
        if (!folded.insert(addonNameKey(entry.name)).second) {
            throw ManagerError("插件名存在大小写或 Unicode 冲突。");
        }
        names.push_back(entry.name);
    }
    // Byte order of UTF-8 is code point order.
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::vector<Path> candidatesIn(const Path& folder) {
    std::vector<Path> candidates;
    for (const char* relative : {"AddOns", "Interface/AddOns"}) {
        if (FileSafety::isDirectory(folder / relative)) {
            candidates.push_back(folder / relative);
        }
    }
    for (const auto& [flavor, title] : GameClient::flavors()) {
        if (FileSafety::isDirectory(folder / flavor / "Interface/AddOns")) {
            candidates.push_back(folder / flavor / "Interface/AddOns");
        }
    }
    try {
        addonNames(folder);
        candidates.push_back(folder);
    } catch (const std::exception&) {
        // Not an add-on root itself; the other candidates decide.
    }
    return candidates;
}

} // namespace

// The one folder inside an extraction root that holds the add-on folders, unwrapping at most
// one enclosing folder.
Path locateAddons(const Path& root) {
    std::vector<Path> candidates = candidatesIn(root);
    if (candidates.empty()) {
        std::vector<std::string> visible;
        for (const auto& entry : FileSafety::list(root)) {
            if (!ignoredName(entry.name)) {
                visible.push_back(entry.name);
            }
        }
        if (visible.size() == 1 && FileSafety::isDirectory(root / visible.front())) {
            candidates = candidatesIn(root / visible.front());
        }
    }
    if (candidates.size() != 1) {
        throw ManagerError(kNoUniqueRoot);
    }
    return candidates.front();
}

} // namespace olvex
