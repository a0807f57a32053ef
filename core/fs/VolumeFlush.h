#pragma once

// Flushes: one folder's entries, or a whole volume at once (see FileSafety.h).

#include <string>

#include "base/Path.h"
#include "fs/Sys.h"

namespace olvex {

namespace FileSafety {

// How a copy flushes what it writes (see FileSafety.h).
enum class Flush { eachFile, deferred };

// Flushes a folder's entries (after renames or creations in it) to stable storage.
void syncDirectory(const Path& url);
// True when one syncfs of the volume holding the folder makes every earlier write on it
// durable; false where only per-file flushes do (see the note at the top).
bool wholeVolumeFlush(const Path& folder);

// The batched form of per-file fsync: flushes the volume that holds `folder`. Its descriptor is
// opened at construction, before the writes it is to cover, because syncfs reports a write-back
// failure only to descriptors that were open when it happened: one opened just before the
// flush would miss a failure that another process's sync had already collected.
class VolumeFlush {
public:
    explicit VolumeFlush(const Path& folder);
    // Fails with SystemError(flush) when a write since construction did not reach the disk.
    void flush();

private:
    std::string m_path;
    sys::Fd m_descriptor;
    bool m_whole = false;
};

} // namespace FileSafety
} // namespace olvex
