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

} // namespace olvex::outcome
