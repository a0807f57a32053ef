#pragma once

// The layout of a WTF folder (the live one or a backup's payload) as far as accounts, realms,
// characters and their saved variables go: `Account/<账号>/SavedVariables` and
// `Account/<账号>/<服务器>/<角色>/SavedVariables`.

#include <string>
#include <vector>

#include "base/Path.h"
#include "savedvars/SavedVariablesHealth.h"

namespace olvex {

// The sub-folders a scope level is made of: real folders only (a link or an entry whose type
// cannot be read is no scope), no hidden folders, and never the account-wide SavedVariables,
// which the account scope carries along. Sorted by code point (UTF-8 byte order).
std::vector<std::string> wtfScopeChildren(const Path& folder);

// One SavedVariables folder of a WTF tree.
struct SavedVariablesFolder {
    // Relative to the WTF folder, with "/": "Account/A/SavedVariables".
    std::string relativePath;
    SavedVariablesPlace place;
};

// Every SavedVariables folder below `wtf` (accounts in order, each account's own first, then
// its characters), or those inside `scope` ("Account/A", "Account/A/R", "Account/A/R/C") when
// one is given. Nothing when `wtf` has no Account folder.
std::vector<SavedVariablesFolder> savedVariablesFolders(const Path& wtf, const std::string& scope = {});

// The saved-variables files ("<插件>.lua", regular files only) of one folder, sorted.
std::vector<std::string> savedVariablesFiles(const Path& folder);

} // namespace olvex
