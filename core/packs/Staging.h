#pragma once

// Where a pack preview unpacks: an "Olvex-<UUID>" folder in the temporary folder, holding a
// ".lease" folder whose ClientLock tells housekeeping that a preview still retains it.

#include <cstdint>
#include <string_view>

#include "base/Date.h"
#include "records/GameClient.h"

namespace olvex {

// TMPDIR when it is set and not empty, else /tmp.
Path systemTemporaryFolder();
// The temporary folder with every link resolved, so that staging paths and the names
// housekeeping compares are the real ones. Fails with "无法定位临时目录".
Path resolvedTemporaryFolder(const Path& temporary);
// A new staging folder's path (not created) inside a resolved temporary folder.
Path newStagingFolder(const Path& resolvedTemporary);
// Whether a name in the temporary folder is a staging folder's: the prefix and a UUID.
bool isStagingName(std::string_view name);
// How old a staging folder must be before housekeeping counts it as left behind: a day, so a
// preview that a user leaves open for hours is never swept from under them.
inline constexpr std::int64_t kStagingMaxAgeSeconds = 86'400;
inline Date stagingCutoff(Date now) {
    return Date{now.sinceReference - static_cast<double>(kStagingMaxAgeSeconds)};
}
inline Path stagingLease(const Path& staging) {
    return staging / ".lease";
}

} // namespace olvex
