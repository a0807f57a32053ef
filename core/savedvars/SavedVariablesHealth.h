#pragma once

// The health of a version folder's add-on settings: every saved-variables file of WTF (account
// level `WTF/Account/<账号>/SavedVariables/<插件>.lua` and character level
// `WTF/Account/<账号>/<服务器>/<角色>/SavedVariables/<插件>.lua`), the damaged ones with the copy
// a repair would take, and the Chinese texts both fronts show. The service fills it; the types
// and texts live here so that a front end needs nothing else to show it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Date.h"
#include "records/Backup.h"
#include "savedvars/SavedVariablesCheck.h"

namespace olvex {

// Where one saved-variables file sits in WTF.
struct SavedVariablesPlace {
    std::string account;
    // Both present for a character's file, both absent for the account's.
    std::optional<std::string> realm;
    std::optional<std::string> character;

    // "账号 <账号>" or "角色 <账号> / <服务器> / <角色>".
    std::string text() const;
    friend bool operator==(const SavedVariablesPlace&, const SavedVariablesPlace&) = default;
};

// The healthy copy a repair puts in place of a damaged file: the game's own `<插件>.lua.bak`
// beside it, or the same file in a WTF backup.
struct SavedVariablesSource {
    // Absent: the game's `.lua.bak`; present: that backup.
    std::optional<LocalBackup> backup;
    // The copy's date: the `.bak` file's modification time, or the backup's date.
    Date date;

    bool isGameBackup() const { return !backup; }
    // "游戏自动保存的 .bak 副本" or "WTF 备份（<原因>）"; a front end adds the date in its own format.
    std::string text() const;
    friend bool operator==(const SavedVariablesSource&, const SavedVariablesSource&) = default;
};

struct DamagedSavedVariables {
    // Relative to the version folder, with "/": "WTF/Account/A/SavedVariables/WeakAuras.lua".
    std::string relativePath;
    // The file name without ".lua".
    std::string addon;
    SavedVariablesPlace place;
    SavedVariablesVerdict verdict;
    // Nothing when neither a healthy `.bak` nor a backup holding the file healthy exists.
    std::optional<SavedVariablesSource> source;

    // "内容被截断（第 12 行）", "空文件", "格式错误（第 3 行）".
    std::string stateText() const;
    friend bool operator==(const DamagedSavedVariables&, const DamagedSavedVariables&) = default;
};

struct SavedVariablesHealth {
    int checkedFiles = 0;
    std::int64_t checkedBytes = 0;
    std::vector<DamagedSavedVariables> damaged;

    bool healthy() const { return damaged.empty(); }
    // "插件配置完好（N 个文件）", "没有插件配置文件" or "N 个插件配置文件已损坏（共 M 个）".
    std::string summary() const;
    friend bool operator==(const SavedVariablesHealth&, const SavedVariablesHealth&) = default;
};

// One add-on whose settings a WTF backup holds, for choosing a restore by add-on.
struct SavedVariablesAddon {
    // The file name without ".lua": what the restore takes.
    std::string name;
    // The title from the installed add-on's .toc when known, else the name.
    std::string title;
    // Saved-variables files of it in the backup (account and characters).
    int files = 0;

    friend bool operator==(const SavedVariablesAddon&, const SavedVariablesAddon&) = default;
};

// True for a file name the game writes as an add-on's saved variables: "<插件>.lua" with a
// non-empty name, not hidden.
bool isSavedVariablesName(const std::string& fileName);

} // namespace olvex
