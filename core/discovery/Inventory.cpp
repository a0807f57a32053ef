#include "discovery/Inventory.h"

#include <algorithm>
#include <cerrno>

#include "base/Errors.h"
#include "base/Text.h"
#include "discovery/TocFile.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

constexpr const char* kNotDeclared = "未声明";
constexpr const char* kNoDependencies = "无";

// Reads at most toc::kReadLimit bytes from the start of a file into `buffer`. The file is
// checked first; opening never blocks (a special file swapped in after the check would).
std::string_view readPrefix(const Path& file, std::string& buffer) {
    FileSafety::checkPath(file);
    FileSafety::OpenedFile opened;
    if (!FileSafety::openRegularFile(file.native(), opened, SystemOperation::open, SystemOperation::examine)) {
        throw SystemError(SystemOperation::open, file.native(), ENOENT);
    }
    if (sys::readUpTo(opened.descriptor.get(), toc::kReadLimit, buffer) != 0) {
        throw SystemError(SystemOperation::read, file.native(), errno);
    }
    return buffer;
}

std::string field(const std::map<std::string, std::string>& fields, std::initializer_list<const char*> keys,
                  const std::string& fallback) {
    for (const char* key : keys) {
        auto it = fields.find(key);
        if (it != fields.end()) {
            return it->second;
        }
    }
    return fallback;
}

std::vector<sys::DirEntry> listFolder(const Path& folder) {
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(folder.c_str(), entries) != 0) {
        throw SystemError(SystemOperation::list, folder.native(), errno);
    }
    return entries;
}

} // namespace

std::vector<InstalledAddon> listInstalledAddons(const GameClient& client) {
    const Path root = client.url() / "Interface/AddOns";
    FileSafety::checkPath(root);
    if (!FileSafety::exists(root)) {
        return {};
    }
    std::vector<sys::DirEntry> entries = listFolder(root);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });

    const std::string flavour = client.folderName();
    const toc::FieldParser parser;
    std::string buffer;
    std::vector<InstalledAddon> addons;
    for (const auto& entry : entries) {
        const Path folder = root / entry.name;
        // A link or special file among the add-ons fails the listing: it is never followed.
        FileSafety::checkPath(folder);
        if (entry.name.front() == '.' || !FileSafety::isDirectory(folder)) {
            continue;
        }
        std::vector<std::string> names;
        for (auto& child : listFolder(folder)) {
            names.push_back(std::move(child.name));
        }
        std::map<std::string, std::string> fields;
        if (auto chosen = toc::chooseFile(entry.name, names, flavour)) {
            fields = parser.parse(readPrefix(folder / *chosen, buffer));
        }
        addons.push_back(InstalledAddon{
            folder,
            field(fields, {"title-zhcn", "title"}, entry.name),
            field(fields, {"version"}, kNotDeclared),
            field(fields, {"author"}, kNotDeclared),
            field(fields, {"dependencies", "requireddeps"}, kNoDependencies),
            field(fields, {"interface"}, kNotDeclared),
        });
    }
    return addons;
}

bool addonMatchesSearch(const InstalledAddon& addon, std::string_view query) {
    if (query.empty()) {
        return true;
    }
    const std::string haystack = addon.title + " " + addon.folder.filename().native() + " " + addon.author;
    return text::lowercased(haystack).find(text::lowercased(query)) != std::string::npos;
}

} // namespace olvex
