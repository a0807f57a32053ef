#pragma once

// Checking a path and opening what it names without following a link: the gate every walk,
// read and write of the file layer starts from (see FileSafety.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "base/Date.h"
#include "base/Errors.h"
#include "base/Path.h"
#include "fs/Sys.h"

namespace olvex {

namespace FileSafety {

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

// A regular file opened for reading; the descriptor closes with the object.
struct OpenedFile {
    sys::Fd descriptor;
    struct ::stat status {};
};
// The modification time an examination reported, as a Date.
Date modificationDate(const struct ::stat& status);
// The same time in nanoseconds since 1970, exact: what a later examination compares with.
std::int64_t modifiedNanoseconds(const struct ::stat& status);
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
// Opens the entry `name` of an opened folder `parent` as a folder. A link or special file there
// throws "拒绝链接或特殊文件：<path>"; other failures, also a plain file, throw
// SystemError(failing, path).
sys::Fd openFolderAt(int parent, const std::string& name, const std::string& path, SystemOperation failing);
// Opens the root of a walk, an absolute path, as a folder without following a link in any of its
// components (the kernel's no-link resolution, else one component at a time from "/"), so that
// a folder above it swapped for a link after the path was checked never leads the walk
// elsewhere. A link or special file on the way throws "拒绝链接或特殊文件：<that component>";
// other failures, a missing component too, throw SystemError(failing, path).
sys::Fd openRoot(const std::string& path, SystemOperation failing);
// The folder holding an absolute path and the path's last component ("/a/b" → "/a", "b").
std::pair<std::string, std::string> splitLast(const std::string& path);
// The entries of an opened folder, listed from its start; SystemError(list, path) on failure.
std::vector<sys::DirEntry> entriesAt(int folder, const std::string& path);

// Direct entries of a folder (after checkPath), hidden ones included, in listing order.
std::vector<sys::DirEntry> list(const Path& url);
namespace detail {
// The path as an absolute text: relative paths are taken from the working folder, joined as
// text and never resolved.
std::string absoluteText(const Path& url);
// Examines one item without following it. Returns false when it does not exist; a link or
// special file, a path past the system's limit or another failure throws ManagerError.
bool examine(const std::string& path, struct ::stat& st);
// Calls visit(prefix, component) for each component of an absolute path from the root down,
// `prefix` being the path up to and including that component.
template <typename Visit> void walkDown(const std::string& text, Visit visit) {
    std::string prefix;
    for (std::string_view component : pathComponents(text)) {
        prefix += '/';
        prefix += component;
        visit(prefix, component);
    }
}
} // namespace detail

} // namespace FileSafety
} // namespace olvex
