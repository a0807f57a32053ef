#pragma once

// The result messages that the window's status line and the command line both show after a
// request succeeded, so that the two fronts never word one outcome differently.

#include <cstddef>
#include <string>

#include "records/Backup.h"

namespace olvex::outcome {

// What the user is told when an operation ended by their own cancel.
inline constexpr const char* kCancelled = "已取消，游戏文件保持操作前状态。";

inline std::string installed(std::size_t addonCount) {
    return "已安装 " + std::to_string(addonCount) + " 个插件。同名插件已替换，其余插件和 WTF 配置已保留。";
}
inline constexpr const char* kRetiredRemoved = "已备份并清理旧整合包插件，其他插件保留。";
inline constexpr const char* kRecovered = "已恢复中断操作之前的状态。";
inline constexpr const char* kWtfBackedUp = "WTF 配置已备份到当前版本目录。";
inline std::string restored(BackupKind kind) {
    return "已恢复" + title(kind) + "，恢复前的状态也已自动备份。";
}
inline constexpr const char* kExported = "备份已导出。请妥善保管，可将 WTF 备份复制到另一台电脑后导入。";
inline constexpr const char* kImported = "配置已校验并导入，原配置已自动备份。";
inline std::string addonSettingsRestored(const std::string& addon) {
    return "已恢复插件“" + addon + "”的配置，其余文件未改动（恢复前的 WTF 已自动备份）。";
}
inline std::string savedVariablesRepaired(std::size_t files) {
    return "已修复 " + std::to_string(files) + " 个插件配置文件（修复前的 WTF 已自动备份）。";
}

// Said after a result whose replaced old files could not all be deleted; each folder follows.
inline constexpr const char* kOldFilesKept = "被替换的旧文件未能全部删除，仍占用磁盘空间（之后的操作会再试）：";
// Said when the player stops waiting for the background deletion.
inline constexpr const char* kDeletionLeft = "已停止等待后台删除；未删完的旧文件会在之后的操作中删除。";

// The result of a clean-up of stale staging folders; the skipped folders, each with why, follow
// it on lines of their own.
inline std::string cleanedUp(int removedFolders, const std::string& freed, std::size_t skipped) {
    std::string text = removedFolders > 0
                           ? "已清理 " + std::to_string(removedFolders) + " 个遗留的临时文件夹，释放 " + freed + "。"
                       : skipped > 0 ? "未清理任何临时文件夹。"
                                     : "没有需要清理的临时文件夹。";
    if (skipped > 0) {
        text += "有 " + std::to_string(skipped) + " 个临时文件夹无法清理，已跳过：";
    }
    return text;
}

} // namespace olvex::outcome
