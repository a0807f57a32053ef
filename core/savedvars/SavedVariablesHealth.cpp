#include "savedvars/SavedVariablesHealth.h"

namespace olvex {

std::string SavedVariablesPlace::text() const {
    if (realm && character) {
        return "角色 " + account + " / " + *realm + " / " + *character;
    }
    return "账号 " + account;
}

std::string SavedVariablesSource::text() const {
    if (!backup) {
        return "游戏自动保存的 .bak 副本";
    }
    return "WTF 备份（" + backup->reason + "）";
}

std::string DamagedSavedVariables::stateText() const {
    std::string text = title(verdict.state);
    if (verdict.line) {
        text += "（第 " + std::to_string(*verdict.line) + " 行）";
    }
    return text;
}

std::string SavedVariablesHealth::summary() const {
    if (damaged.empty()) {
        if (checkedFiles == 0) {
            return "没有插件配置文件";
        }
        return "插件配置完好（" + std::to_string(checkedFiles) + " 个文件）";
    }
    return std::to_string(damaged.size()) + " 个插件配置文件已损坏（共 " + std::to_string(checkedFiles) + " 个）";
}

bool isSavedVariablesName(const std::string& fileName) {
    return fileName.size() > 4 && fileName.ends_with(".lua") && !fileName.starts_with(".");
}

} // namespace olvex
