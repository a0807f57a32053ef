#pragma once

// The file digest walk shared by the pack registry, retired add-ons and configuration
// transfer.

#include <cstdint>

#include "base/OperationControl.h"
#include "packs/PackRecords.h"

namespace olvex {

// Every entry below a folder, hidden ones included, mapped to the SHA-256 of its content
// ("directory" for folders, whose keys end in "/"). Links and special files are refused; more
// than 50,000 entries or 2 GiB of content fail. `control`, when given, is checked for a cancel
// and advanced by the bytes read.
inline constexpr long kDigestEntryLimit = 50'000;
inline constexpr std::int64_t kDigestByteLimit = 2'147'483'648;
DigestMap fileDigests(const Path& folder, const OperationControl* control = nullptr);

} // namespace olvex
