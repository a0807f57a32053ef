#include "base/OperationStage.h"

#include <array>
#include <utility>

namespace olvex {

namespace {
constexpr std::array<std::pair<OperationStage, const char*>, 6> kStages{{
    {OperationStage::extracting, "正在解压"},
    {OperationStage::validating, "正在校验"},
    {OperationStage::preparing, "正在准备文件"},
    {OperationStage::backingUp, "正在备份"},
    {OperationStage::committing, "正在提交，请勿退出"},
    {OperationStage::finished, "操作完成"},
}};
} // namespace

std::string rawValue(OperationStage stage) {
    for (const auto& [value, text] : kStages) {
        if (value == stage) {
            return text;
        }
    }
    return {};
}

std::optional<OperationStage> operationStageFromRaw(const std::string& raw) {
    for (const auto& [value, text] : kStages) {
        if (raw == text) {
            return value;
        }
    }
    return std::nullopt;
}

} // namespace olvex
