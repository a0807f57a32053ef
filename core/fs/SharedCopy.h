#pragma once

// Copies of a tree that share unchanged files with an earlier copy by hard link: how a backup
// costs only what changed since the one before it. copyTree does all the copying; this walk
// decides, file by file, whether a second name of the earlier copy's file can stand in for a
// copy, and records what each file of the new copy holds.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Path.h"
#include "fs/TreeOps.h"

namespace olvex {

class OperationControl;

namespace FileSafety {

// What a copy holds at one relative path. Folders are keyed with a trailing "/" and have the
// digest kFolderDigest (as fileDigests names them), no length and no times.
struct StoredEntry {
    std::string sha256;
    std::int64_t size = 0;
    // The source file's modification time (nanoseconds since 1970) examined before it was
    // copied: a later copy that finds the same length and time takes the file as unchanged
    // without reading it. None when the time was too recent to prove anything (a write within
    // the clock's resolution after it was examined would not have changed it).
    std::optional<std::int64_t> sourceTime;
    // The stored file's own modification time: the earlier copy's file is linked only while it
    // still has its recorded length and time.
    std::int64_t storedTime = 0;

    friend bool operator==(const StoredEntry&, const StoredEntry&) = default;
};
using StoredEntries = std::map<std::string, StoredEntry>;
inline constexpr const char* kFolderDigest = "directory";

// An earlier copy on the same volume, with the entries recorded when it was made.
struct LinkSource {
    Path folder;
    const StoredEntries* entries = nullptr;
};

// Copies the folder `source` to the new folder `destination` (its parent must exist). A file
// whose relative path and length equal an entry of `earlier`, whose content is that entry's
// (the same source time, or else the same SHA-256 read now), and whose stored file there still
// has its recorded length and time becomes a second name of that stored file; anything else is
// copied by copyTree. Where the volume refuses hard links (another volume, FAT, some FUSE
// mounts; the link limit of one file) the file is copied and nothing is said. Every file of the
// destination is made read-only, and the digests of copied files are taken from what was
// written, never from the source, which may change meanwhile. Flushed as copyTree with
// Flush::deferred: the folders that gained a link are noted with the rest. Returns the
// destination's entries. `examined`: the stamps byteSize kept of the source just before, which
// the walk takes as each file's length and source time (examined before anything is copied, as a
// source time must be); a file sizing did not see is examined when it is met. The walk runs on a few
// threads (FolderQueue), each folder on one of them.
StoredEntries copySharing(const Path& source, const Path& destination, const std::optional<LinkSource>& earlier,
                          const FileStamps& examined, const OperationControl* control);

// Writes a new file (never replacing one) that belongs with a copy made under the operation's
// flush, durable with it as copySharing's files are: no flush of its own where the volume is
// flushed whole, flushed now with its folder noted per file, flushed with its folder entry at
// once outside an operation's flush.
void writeNewFile(const Path& file, const std::string& data);

// True when the entries below `folder` are exactly `entries`, each file with its recorded
// length and stored time (the files being read-only, so also its recorded digest). Examines
// every entry as checkTree does.
bool unchangedSince(const Path& folder, const StoredEntries& entries);

// One file below a folder: which file it is, how many names it has, and its length.
struct StoredInode {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t links = 0;
    std::int64_t size = 0;
};
// Every file below the folder (none when it is missing), examined as byteSize does.
std::vector<StoredInode> inodesBelow(const Path& folder);

} // namespace FileSafety
} // namespace olvex
