#pragma once

// Whole-tree operations: checks, creation, removal, copies and sizes, each a walk on descriptors
// (see FileSafety.h).

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "base/Path.h"
#include "fs/PathCheck.h"
#include "fs/VolumeFlush.h"

namespace olvex {

class OperationControl;

namespace FileSafety {

// checkPath on the tree and on every entry below it; a missing tree passes.
void checkTree(const Path& url);
// Creates the directory and its missing parents with permission 0700.
void directory(const Path& url);
// Removes a file or a whole tree; a missing path is success.
void remove(const Path& url);
// remove() for what this system left behind itself: folders inside that the user made
// read-only (an add-on folder at mode 555, set aside whole) are made writable first where the
// user owns them, so that they do not block their removal for good.
void removeLeftover(const Path& url);
// remove() and removeLeftover() for clean-up on a failure path, which must never replace the
// failure being reported: their own failures are ignored.
void removeQuietly(const Path& url) noexcept;
void removeLeftoverQuietly(const Path& url) noexcept;
// Runs the steps that build `folder` and returns what they return. When one fails, the
// half-made folder is removed quietly and the failure goes on to the caller.
template <typename Steps> auto removeOnFailure(const Path& folder, Steps&& steps) -> decltype(steps()) {
    try {
        return steps();
    } catch (...) {
        removeQuietly(folder);
        throw;
    }
}
// Names of a copied folder's own entries to leave out (true: not copied).
using Skip = std::function<bool(const std::string& name)>;
// Copies a file or tree, never overwriting: "复制目标已存在。". File content moves in chunks of
// 1 MiB, inside the kernel where it can (copy_file_range, which shares blocks on file systems
// that can), through a buffer elsewhere (not Linux, or a refused kernel copy). Checks the
// control before every entry and every chunk after the first. A partial copy stays. Entries of
// the source folder itself for which `skip` says true are not copied (nor examined). A folder is
// copied on a few threads (FolderQueue), each of its folders on one of them.
void copyTree(const Path& source, const Path& destination, const OperationControl* control = nullptr,
              Flush flush = Flush::eachFile, const Skip& skip = nullptr);
// Sum of file lengths below the path (0 when missing). Examines the path and every entry as
// checkTree does, with the same refusals, so a caller that sizes a tree needs no separate check.
std::int64_t byteSize(const Path& url);
// What sizing examined of one file: its length and modification time (nanoseconds since 1970).
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t modified = 0;
};
// Keyed by the file's path relative to the sized folder.
using FileStamps = std::map<std::string, FileStamp>;
// byteSize that also keeps each file's stamp, so that a copy made next (copySharing) can take a
// file as examined then rather than examining every file once more. It walks on a few threads
// (FolderQueue), as that copy does.
std::int64_t byteSize(const Path& url, FileStamps& stamps);
// For what is about to be removed: the lengths of the regular files below a folder (0 when it is
// missing or no folder). Links and special files count as nothing; none is followed; a part
// that goes meanwhile (another process deleting it) counts as nothing.
std::int64_t regularFileBytes(const Path& folder);

// Renames an item within one volume. Fails with SystemError.
void move(const Path& from, const Path& to);

} // namespace FileSafety
} // namespace olvex
