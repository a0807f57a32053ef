#pragma once

// The digest list every backup records beside its metadata.json: each entry of its payload with
// its SHA-256, length and times (FileSafety::StoredEntry). The next backup of the same kind
// shares the files it names unchanged (fs/SharedCopy.h), and an export writes its digests into
// its manifest without reading the payload again. A backup without one (made by an earlier
// version) is never shared with, and is exported by reading it as before.
//
// Text, one line per entry, so that a payload of 50,000 files is read and written in one pass:
//   <sha256 or "directory"> <length> <source time or "-"> <stored time> <relative path>
// Times are nanoseconds since 1970; folder paths end in "/". A path may hold any byte but NUL;
// backslash and line feed are written as "\\" and "\n". Stored gzip-compressed (a third of the
// size: the list of 20,000 small files would otherwise take almost 4% of their own space in
// every backup); the version before stored the same text uncompressed under another name.

#include <optional>
#include <string>

#include "base/Path.h"
#include "fs/SharedCopy.h"
#include "packs/PackRecords.h"

namespace olvex {

inline constexpr const char* kDigestListName = "digests.gz";
inline constexpr const char* kUncompressedDigestListName = "digests.txt";
// The file names a digest list has had: left out of what leaves the store.
bool isDigestListName(const std::string& name);

// The list as it is stored (compressed).
std::string encodeDigestList(const FileSafety::StoredEntries& entries);
// Nothing when the stored bytes, compressed or not, are not a whole list (cut short, damaged,
// of another version).
std::optional<FileSafety::StoredEntries> decodeDigestList(const std::string& stored);
// The list of a backup folder; nothing when it is missing, damaged or cannot be read.
std::optional<FileSafety::StoredEntries> readDigestList(const Path& backupFolder);
// The entries as an export manifest names them: each path with its digest.
DigestMap digestMapOf(const FileSafety::StoredEntries& entries);

} // namespace olvex
