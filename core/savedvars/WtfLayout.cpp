#include "savedvars/WtfLayout.h"

#include <algorithm>
#include <dirent.h>

#include "fs/FileSafety.h"

namespace olvex {

std::vector<std::string> wtfScopeChildren(const Path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : FileSafety::list(folder)) {
        if (entry.type == DT_DIR && !entry.name.starts_with(".") && entry.name != "SavedVariables") {
            names.push_back(entry.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Whether `folder` lists a real folder `name`. Read from the listing, which fails loudly: a
// folder that cannot be examined must never pass for a missing one, or its files would go
// unchecked (and unrepaired) while the request reports success.
bool hasFolder(const Path& folder, const std::string& name) {
    for (const auto& entry : FileSafety::list(folder)) {
        if (entry.name == name) {
            return entry.type == DT_DIR;
        }
    }
    return false;
}

} // namespace

std::vector<SavedVariablesFolder> savedVariablesFolders(const Path& wtf, const std::string& scope) {
    std::vector<SavedVariablesFolder> folders;
    const Path accounts = wtf / "Account";
    if (!FileSafety::exists(wtf) || !hasFolder(wtf, "Account")) {
        return folders;
    }
    auto inScope = [&](const std::string& relative) {
        return scope.empty() || relative == scope || relative.starts_with(scope + "/");
    };
    auto add = [&](const std::string& relative, SavedVariablesPlace place) {
        if (inScope(relative) && hasFolder(wtf / relative, "SavedVariables")) {
            folders.push_back({relative + "/SavedVariables", std::move(place)});
        }
    };
    for (const auto& account : wtfScopeChildren(accounts)) {
        const std::string accountPath = "Account/" + account;
        add(accountPath, {account, std::nullopt, std::nullopt});
        for (const auto& realm : wtfScopeChildren(accounts / account)) {
            for (const auto& character : wtfScopeChildren(accounts / account / realm)) {
                add(accountPath + "/" + realm + "/" + character, {account, realm, character});
            }
        }
    }
    return folders;
}

std::vector<std::string> savedVariablesFiles(const Path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : FileSafety::list(folder)) {
        if (entry.type == DT_REG && isSavedVariablesName(entry.name)) {
            names.push_back(entry.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace olvex
