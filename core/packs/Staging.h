#pragma once

// Where a pack preview unpacks: an "Olvex-<UUID>" folder in the temporary folder, holding a
// ".lease" folder whose ClientLock tells housekeeping that a preview still retains it.

#include <cstdint>
#include <functional>
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
// How old a staging folder must be before housekeeping may remove it. A preview that is still
// open holds its lease, which housekeeping never takes from it, however old the folder; one
// whose lease nobody holds belongs to no running preview. The minute only covers a preview in
// the instant between creating its lease file and locking it.
inline constexpr std::int64_t kStagingMaxAgeSeconds = 60;
inline Date stagingCutoff(Date now) {
    return Date{now.sinceReference - static_cast<double>(kStagingMaxAgeSeconds)};
}
inline Path stagingLease(const Path& staging) {
    return staging / ".lease";
}
// Removes a staging folder whose lease the caller holds: everything but the lease folder while
// the lease is held, then `release` ends the lease, then the rest goes. The lease's file is closed
// before it is deleted: FUSE keeps a file deleted while open under a hidden name
// (".fuse_hidden…") until it is closed, and that entry would keep its folder.
void removeStagingFolder(const Path& staging, const std::function<void()>& release);

} // namespace olvex
