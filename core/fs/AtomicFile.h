#pragma once

// Whole files read with a bound and written atomically (see FileSafety.h).

#include <cstdint>
#include <optional>
#include <string>

#include "base/Path.h"

namespace olvex {

namespace FileSafety {

// Reads a whole regular file of at most `limit` bytes (after checkPath), opened by
// openRegularFile and read by sys::readUpTo; nothing when no file exists there. A larger file,
// also one that grows while it is read, fails with ManagerError(tooLarge) without being read
// further, so the cap bounds the memory a damaged or hostile record can take. Read errors:
// SystemError.
std::optional<std::string> readBounded(const Path& url, std::int64_t limit, const std::string& tooLarge);
// readBounded for a file that must exist: a missing one fails with SystemError (read, ENOENT).
std::string readFile(const Path& url, std::int64_t limit, const std::string& tooLarge);
// Writes a temporary file beside the destination, flushes it, renames it into place and
// flushes the folder entry, so a reader sees the old or the new file, never a partial one.
void writeFileAtomically(const Path& url, const std::string& data);

} // namespace FileSafety
} // namespace olvex
