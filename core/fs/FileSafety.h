#pragma once

// The one gate through which the core touches paths it did not create itself. Nothing here
// follows, copies, measures or deletes through a symbolic link or special file, and no path
// with a "." or ".." component is accepted. Directories are created 0700, files 0600.
//
// Durability, in one place: copyTree flushes each file it writes unless told the caller will
// flush the whole volume once (Flush::deferred, with a VolumeFlush opened before the copy),
// which keeps the same guarantee (the bytes are on stable storage before anything relies on
// them) at a fraction of the cost for trees of many small files. Where a volume cannot be
// flushed at once (not Linux; FUSE mounts, where syncfs may not reach the server) deferred
// copies flush each file after all, and VolumeFlush::flush has nothing left to do: that choice
// is made in one place, wholeVolumeFlush(). writeFileAtomically flushes the file and its folder
// entry; move() flushes nothing, callers that need the rename durable call syncDirectory on the
// folders involved.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "base/Errors.h"
#include "base/Path.h"
#include "fs/Sys.h"

namespace olvex {

class OperationControl;

namespace FileSafety {

enum class Flush { eachFile, deferred };

// The components of a path split at "/", in order; empty ones (doubled or trailing slashes) name
// nothing and are left out.
std::vector<std::string_view> pathComponents(std::string_view path);
// Examines every component from "/" without following links. Throws ManagerError
// "路径中不允许 . 或 ..", "拒绝链接或特殊文件：<path>" or "无法检查路径：<path>". Missing
// components pass: only "no such file" counts as missing.
void checkPath(const Path& url);
// True only for an existing directory that is not a link.
bool isDirectory(const Path& url);
// True when something (of any type) exists at the path, without following a final link.
bool exists(const Path& url);

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
// the source folder itself for which `skip` says true are not copied (nor examined).
void copyTree(const Path& source, const Path& destination, const OperationControl* control = nullptr,
              Flush flush = Flush::eachFile, const Skip& skip = nullptr);
// Sum of file lengths below the path (0 when missing). Examines the path and every entry as
// checkTree does, with the same refusals, so a caller that sizes a tree needs no separate check.
std::int64_t byteSize(const Path& url);
// For what is about to be removed: the lengths of the regular files below a folder (0 when it is
// missing or no folder). Links and special files count as nothing; none is followed.
std::int64_t regularFileBytes(const Path& folder);

// A regular file opened for reading; the descriptor closes with the object.
struct OpenedFile {
    sys::Fd descriptor;
    struct ::stat status {};
};
// Opens a file without following a link and without blocking on a FIFO (an entry swapped since
// it was listed must neither lead elsewhere nor hang the reader), and examines what it opened.
// False when nothing exists there. A link or anything but a regular file throws "拒绝链接或特殊
// 文件：<path>" (linkOrSpecialFile); other failures throw SystemError with `opening` or
// `examining`.
bool openRegularFile(const std::string& path, OpenedFile& file, SystemOperation opening, SystemOperation examining);
// The same for the entry `name` of an opened folder; `path` (its whole path) is for messages.
bool openRegularFile(int folder, const std::string& name, const std::string& path, OpenedFile& file,
                     SystemOperation opening, SystemOperation examining);

// Walks work on descriptors: the root is checked from "/" (checkPath) and opened without
// following a link, and every entry below is reached relative to its opened folder, so that an
// entry swapped for a link after it was listed is refused where it is met and never leads a
// copy, a size, a digest or a removal out of the tree. `path` is the folder's whole path, for
// messages only.
// Opens the entry `name` of folder `parent` (AT_FDCWD with a whole path for a root) as a folder.
// A link or special file there throws "拒绝链接或特殊文件：<path>"; other failures, also a plain
// file, throw SystemError(failing, path).
sys::Fd openFolderAt(int parent, const std::string& name, const std::string& path, SystemOperation failing);
// The entries of an opened folder, listed from its start; SystemError(list, path) on failure.
std::vector<sys::DirEntry> entriesAt(int folder, const std::string& path);

// Direct entries of a folder (after checkPath), hidden ones included, in listing order.
std::vector<sys::DirEntry> list(const Path& url);
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
// Renames an item within one volume. Fails with SystemError.
void move(const Path& from, const Path& to);
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
