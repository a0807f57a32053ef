#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/Date.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "records/GameClient.h"

namespace olvex {

// What a backup holds: the add-on folder or the WTF configuration folder.
enum class BackupKind { addons, wtf };

std::string rawValue(BackupKind kind);
// Exact raw value only; anything else is no kind.
std::optional<BackupKind> backupKindFromRaw(const std::string& raw);
std::string title(BackupKind kind);

// How many backups of each kind "keep the newest" keeps when the user names no count.
inline constexpr int kDefaultRetainedBackups = 5;

// The record of one backup of one version folder, stored as its metadata.json.
struct LocalBackup {
    Uuid id;
    Date date;
    BackupKind kind = BackupKind::addons;
    std::string reason;
    std::optional<std::int64_t> byteCount;

    friend bool operator==(const LocalBackup&, const LocalBackup&) = default;
};

// JSON form: keys "id", "date", "kind", "reason", "byteCount" (only when present).
json::Json toJson(const LocalBackup& backup);
// Fails (json::DecodeError or the parser's error) on a missing required key, a wrong type,
// a malformed UUID or an unknown kind. A missing "byteCount" is an absent size.
LocalBackup localBackupFromJson(const json::Json& object);

// A record this system writes is well under a kilobyte; a larger metadata.json is damaged or
// foreign, and is never read whole.
inline constexpr std::int64_t kBackupRecordLimit = 1 << 20;
// Reads and decodes a backup folder's metadata.json; a missing, oversized or undecodable file
// fails with a Chinese message naming it (SystemError or ManagerError).
LocalBackup readBackupRecord(const Path& file);

// A backup with its size measured now (or recorded at backup time).
struct BackupDetails {
    LocalBackup backup;
    std::int64_t bytes = 0;

    const Uuid& id() const { return backup.id; }
    friend bool operator==(const BackupDetails&, const BackupDetails&) = default;
};

// What the backups of a version folder take on disk, where they share unchanged files: the
// listed backups together (each shared file once), and for each backup what removing it alone
// would free (its files that no other name, listed, recycled or elsewhere, keeps). A backup's
// own size (byteCount, BackupDetails::bytes) stays its whole content.
struct BackupUsage {
    std::int64_t occupiedBytes = 0;
    std::map<Uuid, std::int64_t> freedBytes;

    friend bool operator==(const BackupUsage&, const BackupUsage&) = default;
};

} // namespace olvex
