#pragma once

#include <optional>
#include <string>

namespace olvex {

// The stages a long operation reports, in order. After `committing` it cannot be cancelled.
enum class OperationStage { extracting, validating, preparing, backingUp, committing, finished };

// The text the user sees for a stage.
std::string rawValue(OperationStage stage);
// Exact text only; any other text gives no stage.
std::optional<OperationStage> operationStageFromRaw(const std::string& raw);

} // namespace olvex
