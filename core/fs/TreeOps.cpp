#include "fs/TreeOps.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "fs/FolderQueue.h"

namespace olvex::FileSafety {

using detail::absoluteText;
using detail::examine;
using detail::walkDown;

namespace {

constexpr size_t kCopyChunk = 1 << 20;

unsigned char walkedType(int folder, const sys::DirEntry& entry, const std::string& path) {
    unsigned char type = entry.type;
    if (type == DT_UNKNOWN) {
        struct ::stat st {};
        if (sys::fstatat(folder, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                return DT_UNKNOWN;
            }
            throw ManagerError("无法检查路径：" + path);
        }
        type = static_cast<unsigned char>(IFTODT(st.st_mode));
    }
    if (type != DT_DIR && type != DT_REG) {
        throw ManagerError(linkOrSpecialFile(path));
    }
    return type;
}

// Kernel copies that a file system refuses (another volume on older kernels, FUSE, NFS
// without server-side copy) go through a buffer instead; any other error is the copy's.
bool kernelCopyRefused(int error) {
    // ENOTSUP is EOPNOTSUPP on Linux, the one system with the kernel copy.
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

struct Walker {
    const OperationControl* control;
    bool flushFiles;
    // Folders whose entries the copy made (the destination, its parent and every folder
    // created below), for the copy's flush decision.
    std::vector<std::string> folders;
    // Cleared by the first refusal, so that a walk across such a volume asks once.
    bool kernelCopy = true;
    std::vector<char> buffer;
};

// Copies the rest of `in` into `out` in bounded chunks, checking the control before every chunk
// after the first: copy_file_range where the kernel can (sharing blocks where the file system
// does), through a buffer where it cannot.
void copyContent(const FileSafety::OpenedFile& in, int out, const std::string& source, const std::string& destination,
                 Walker& walker) {
    const int from = in.descriptor.get();
    std::int64_t copied = 0;
    bool kernel = walker.kernelCopy;
    for (;;) {
        if (copied > 0 && walker.control) {
            walker.control->check();
        }
        ssize_t n;
        if (kernel) {
            n = sys::copyFileRange(from, out, kCopyChunk);
            if (n < 0 && kernelCopyRefused(errno)) {
                kernel = walker.kernelCopy = false;
                continue;
            }
            if (n < 0) {
                throw SystemError(SystemOperation::write, destination, errno);
            }
            if (n == 0 && copied < in.status.st_size) {
                // Some file systems report no data to the kernel copy; a read tells.
                kernel = false;
                continue;
            }
        } else {
            if (walker.buffer.empty()) {
                walker.buffer.resize(kCopyChunk);
            }
            n = sys::readSome(from, walker.buffer.data(), walker.buffer.size());
            if (n < 0) {
                throw SystemError(SystemOperation::read, source, errno);
            }
            if (n > 0 && sys::writeAll(out, walker.buffer.data(), static_cast<size_t>(n)) != 0) {
                throw SystemError(SystemOperation::write, destination, errno);
            }
        }
        if (n == 0) {
            return;
        }
        copied += n;
        if (walker.control) {
            walker.control->addProgress(n);
        }
    }
}

// The source is opened (and found to be a regular file) first; the exclusive create is the
// check that nothing, not even a link, is at the destination. `sourceFolder` and
// `destinationFolder` are the folders the names are taken in.
void copyFile(int sourceFolder, const std::string& sourceName, const std::string& source, int destinationFolder,
              const std::string& destinationName, const std::string& destination, Walker& walker) {
    FileSafety::OpenedFile in;
    if (!FileSafety::openRegularFile(sourceFolder, sourceName, source, in, SystemOperation::open,
                                     SystemOperation::examine)) {
        throw SystemError(SystemOperation::open, source, ENOENT);
    }
    sys::Fd out(
        sys::openat(destinationFolder, destinationName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!out.valid()) {
        throw ManagerError(errno == EEXIST ? "复制目标已存在。" : "无法创建文件，请检查权限和磁盘空间。");
    }
    copyContent(in, out.get(), source, destination, walker);
    if (walker.flushFiles && sys::fsync(out.get()) != 0) {
        throw SystemError(SystemOperation::flush, destination, errno);
    }
}

// One thread's part of copying a tree: each folder it takes is copied entry by entry, and the
// folders met in it are made and left for whichever thread is free.
class CopyWalk {
public:
    CopyWalk(const std::string& from, const std::string& to, const FileSafety::Skip& skip,
             FileSafety::FolderQueue<std::string>& folders, const Walker& own)
        : walker(own), m_from(from), m_to(to), m_skip(skip), m_folders(folders) {}

    // `relative`: "" for the copied folder itself (the only one `skip` applies to), else a folder's
    // path below it, made already in the destination.
    void walk(const std::string& relative) {
        const std::string sourcePath = relative.empty() ? m_from : m_from + "/" + relative;
        const std::string destinationPath = relative.empty() ? m_to : m_to + "/" + relative;
        const sys::Fd source = openRoot(sourcePath, SystemOperation::list);
        const sys::Fd destination = openRoot(destinationPath, SystemOperation::createDirectory);
        for (const auto& entry : FileSafety::entriesAt(source.get(), sourcePath)) {
            if (m_folders.failed()) {
                throw FileSafety::WalkAbandoned{};
            }
            if (walker.control) {
                walker.control->check();
            }
            if (relative.empty() && m_skip && m_skip(entry.name)) {
                continue;
            }
            const std::string from = sourcePath + "/" + entry.name;
            const std::string to = destinationPath + "/" + entry.name;
            if (walkedType(source.get(), entry, from) != DT_DIR) {
                copyFile(source.get(), entry.name, from, destination.get(), entry.name, to, walker);
                continue;
            }
            if (sys::mkdirat(destination.get(), entry.name.c_str(), 0700) != 0 && errno != EEXIST) {
                throw SystemError(SystemOperation::createDirectory, to, errno);
            }
            walker.folders.push_back(to);
            m_folders.push(relative.empty() ? entry.name : relative + "/" + entry.name);
        }
    }

    Walker walker;

private:
    const std::string& m_from;
    const std::string& m_to;
    const FileSafety::Skip& m_skip;
    FileSafety::FolderQueue<std::string>& m_folders;
};

// What one listed entry of a sizing walk is: a folder's listing says all, a file needs its own
// examination (left in `st`). Gone: removed since the listing.
enum class Sized { gone, file, folder, special };
Sized sizedEntry(int folder, const sys::DirEntry& entry, const std::string& child, struct ::stat& st) {
    if (entry.type == DT_DIR) {
        return Sized::folder;
    }
    if (sys::fstatat(folder, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return Sized::gone;
        }
        throw ManagerError("无法检查路径：" + child);
    }
    return S_ISREG(st.st_mode) ? Sized::file : S_ISDIR(st.st_mode) ? Sized::folder : Sized::special;
}

std::int64_t sizeBelow(const sys::Fd& folder, const std::string& path, bool refuseSpecial = true) {
    std::int64_t total = 0;
    for (const auto& entry : FileSafety::entriesAt(folder.get(), path)) {
        const std::string child = path + "/" + entry.name;
        struct ::stat st {};
        const Sized sized = sizedEntry(folder.get(), entry, child, st);
        if (sized == Sized::gone || (sized == Sized::special && !refuseSpecial)) {
            continue;
        }
        if (sized == Sized::special) {
            throw ManagerError(linkOrSpecialFile(child));
        }
        if (sized == Sized::file) {
            total += static_cast<std::int64_t>(st.st_size);
            continue;
        }
        try {
            total += sizeBelow(FileSafety::openFolderAt(folder.get(), entry.name, child, SystemOperation::list), child,
                               refuseSpecial);
        } catch (const SystemError& failure) {
            // What is about to be removed may be going already (another process deleting it).
            if (refuseSpecial || failure.error() != ENOENT || failure.path() != child) {
                throw;
            }
        }
    }
    return total;
}

// One thread's part of sizing a tree and keeping each file's stamp (byteSize with stamps): the
// walk before a backup, which examines every file, on as many threads as the backup's own walk.
class StampingWalk {
public:
    StampingWalk(const std::string& root, FileSafety::FolderQueue<std::string>& folders)
        : m_root(root), m_folders(folders) {}

    // `relative`: "" for the root, else a folder's path below it.
    void walk(const std::string& relative) {
        const std::string path = relative.empty() ? m_root : m_root + "/" + relative;
        const std::string prefix = relative.empty() ? "" : relative + "/";
        const sys::Fd folder = openRoot(path, SystemOperation::list);
        for (const auto& entry : FileSafety::entriesAt(folder.get(), path)) {
            if (m_folders.failed()) {
                throw FileSafety::WalkAbandoned{};
            }
            const std::string child = path + "/" + entry.name;
            struct ::stat st {};
            const Sized sized = sizedEntry(folder.get(), entry, child, st);
            if (sized == Sized::gone) {
                continue;
            }
            if (sized == Sized::special) {
                throw ManagerError(linkOrSpecialFile(child));
            }
            if (sized == Sized::file) {
                total += static_cast<std::int64_t>(st.st_size);
                stamps.emplace(prefix + entry.name, FileSafety::FileStamp{static_cast<std::int64_t>(st.st_size),
                                                                          FileSafety::modifiedNanoseconds(st)});
                continue;
            }
            m_folders.push(prefix + entry.name);
        }
    }

    std::int64_t total = 0;
    FileSafety::FileStamps stamps;

private:
    const std::string& m_root;
    FileSafety::FolderQueue<std::string>& m_folders;
};

void checkBelow(const sys::Fd& folder, const std::string& path) {
    for (const auto& entry : FileSafety::entriesAt(folder.get(), path)) {
        const std::string child = path + "/" + entry.name;
        if (walkedType(folder.get(), entry, child) == DT_DIR) {
            checkBelow(FileSafety::openFolderAt(folder.get(), entry.name, child, SystemOperation::list), child);
        }
    }
}

// A folder the user left without write permission cannot be emptied; its owner may change that.
void makeWritable(int folder, const std::string& name) {
    struct ::stat st {};
    if (sys::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == ::geteuid() && (st.st_mode & S_IRWXU) != S_IRWXU) {
        // A failure shows as the removal's own failure just after.
        sys::fchmodat(folder, name.c_str(), (st.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
    }
}

bool removeFolderAt(int parent, const std::string& name, const std::string& path, bool leftover);

// Empties an opened folder. Entries are removed by name in that folder, so a folder below that
// is swapped for a link is never entered: its opening refuses it.
void removeBelow(const sys::Fd& folder, const std::string& path, bool leftover) {
    for (const auto& entry : FileSafety::entriesAt(folder.get(), path)) {
        const std::string child = path + "/" + entry.name;
        const char* name = entry.name.c_str();
        // The listing's own type is enough to choose between the two removals: a wrong guess
        // fails (EISDIR, ENOTDIR, or the no-follow opening of a link), it never follows anything.
        unsigned char type = entry.type;
        if (type == DT_UNKNOWN) {
            struct ::stat st {};
            if (sys::fstatat(folder.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    continue;
                }
                throw SystemError(SystemOperation::examine, child, errno);
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_DIR) {
            if (leftover) {
                makeWritable(folder.get(), entry.name);
            }
            if (!removeFolderAt(folder.get(), entry.name, child, leftover)) {
                continue;
            }
        } else if (sys::unlinkat(folder.get(), name, 0) != 0 && errno != ENOENT) {
            throw SystemError(SystemOperation::remove, child, errno);
        }
    }
}

// Removes the folder `name` of `parent` with all it holds. Another process removing the same
// tree at the same time (two sweeps of one leftover) takes entries away under it: what is
// already gone counts as removed, not as a failure. False when the folder was gone already.
bool removeFolderAt(int parent, const std::string& name, const std::string& path, bool leftover) {
    try {
        removeBelow(FileSafety::openFolderAt(parent, name, path, SystemOperation::list), path, leftover);
    } catch (const SystemError& failure) {
        if (failure.error() == ENOENT && failure.path() == path) {
            return false;
        }
        throw;
    }
    if (sys::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        throw SystemError(SystemOperation::remove, path, errno);
    }
    return true;
}

} // namespace

void checkTree(const Path& url) {
    checkPath(url);
    std::string path = absoluteText(url);
    struct ::stat st {};
    if (!examine(path, st) || !S_ISDIR(st.st_mode)) {
        return;
    }
    checkBelow(openRoot(path, SystemOperation::list), path);
}

namespace {
// Creates the missing folders of the path, parents first, and returns the ones it created.
std::vector<std::string> makeDirectories(const Path& url) {
    checkPath(url);
    std::vector<std::string> created;
    walkDown(absoluteText(url), [&](const std::string& prefix, std::string_view) {
        struct ::stat st {};
        if (sys::lstat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                throw SystemError(SystemOperation::createDirectory, prefix, ENOTDIR);
            }
        } else if (errno != ENOENT) {
            throw SystemError(SystemOperation::createDirectory, prefix, errno);
        } else if (sys::mkdir(prefix.c_str(), 0700) != 0) {
            if (errno != EEXIST) {
                throw SystemError(SystemOperation::createDirectory, prefix, errno);
            }
        } else {
            created.push_back(prefix);
        }
    });
    return created;
}

std::string parentText(const std::string& path) {
    return Path(path).parent_path().native();
}
} // namespace

void directory(const Path& url) {
    // A new folder is durable once the folder holding it is flushed.
    for (const std::string& made : makeDirectories(url)) {
        detail::folderChanged(parentText(made), true);
    }
}

namespace {
// The item is removed by name in its opened parent, so that nothing above it, swapped for a
// link after the check, leads the removal elsewhere.
void removeItem(const Path& url, bool leftover) {
    checkPath(url);
    const std::string path = absoluteText(url);
    const auto [parentPath, name] = splitLast(path);
    sys::Fd parent;
    try {
        parent = openRoot(parentPath, SystemOperation::examine);
    } catch (const SystemError& failure) {
        if (failure.error() == ENOENT) {
            return;
        }
        throw;
    }
    struct ::stat st {};
    if (sys::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throw SystemError(SystemOperation::examine, path, errno);
    }
    if (S_ISDIR(st.st_mode)) {
        if (leftover) {
            makeWritable(parent.get(), name);
        }
        removeFolderAt(parent.get(), name, path, leftover);
    } else if (sys::unlinkat(parent.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
        throw SystemError(SystemOperation::remove, path, errno);
    }
    // Callers that need a removal durable outside an operation's flush flush the folder.
    detail::folderChanged(parentPath, false);
}
} // namespace

void remove(const Path& url) {
    removeItem(url, false);
}

void removeLeftover(const Path& url) {
    removeItem(url, true);
}

void removeQuietly(const Path& url) noexcept {
    try {
        FileSafety::remove(url);
    } catch (...) {
    }
}

void removeLeftoverQuietly(const Path& url) noexcept {
    try {
        FileSafety::removeLeftover(url);
    } catch (...) {
    }
}

void copyTree(const Path& source, const Path& destination, const OperationControl* control, Flush flush,
              const Skip& skip) {
    const std::string from = absoluteText(source);
    const std::string to = absoluteText(destination);
    // A deferred copy follows the decision of the operation's open flush; without one, or
    // told to, it flushes what it wrote itself, folders included.
    const detail::FolderFlush folders = flush == Flush::eachFile ? detail::FolderFlush::now : detail::folderFlush();
    Walker walker{control, folders != detail::FolderFlush::none, {}, true, {}};
    if (control) {
        control->check();
    }
    checkPath(from);
    checkPath(to);
    struct ::stat st {};
    walker.folders.push_back(parentText(to));
    if (sys::lstat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        // A single file: both names are taken in their folders, opened as roots are.
        const auto [fromFolder, fromName] = splitLast(from);
        const auto [toFolder, toName] = splitLast(to);
        copyFile(openRoot(fromFolder, SystemOperation::open).get(), fromName, from,
                 openRoot(toFolder, SystemOperation::createDirectory).get(), toName, to, walker);
    } else {
        const sys::Fd sourceFolder = openRoot(from, SystemOperation::list);
        for (const std::string& made : makeDirectories(to)) {
            walker.folders.push_back(parentText(made));
        }
        walker.folders.push_back(to);
        // The walk runs on a few threads, each folder on one of them, each with a walker of its
        // own whose folders join this one's.
        FolderQueue<std::string> pending(std::string{});
        auto parts = walkParts<CopyWalk>([&] {
            return std::make_unique<CopyWalk>(from, to, skip, pending,
                                              Walker{control, walker.flushFiles, {}, true, {}});
        });
        pending.run(parts);
        for (const auto& part : parts) {
            walker.folders.insert(walker.folders.end(), part->walker.folders.begin(), part->walker.folders.end());
        }
    }
    if (folders == detail::FolderFlush::none) {
        return;
    }
    std::sort(walker.folders.begin(), walker.folders.end());
    walker.folders.erase(std::unique(walker.folders.begin(), walker.folders.end()), walker.folders.end());
    for (const std::string& folder : walker.folders) {
        if (folders == detail::FolderFlush::now) {
            syncDirectory(folder);
        } else {
            VolumeFlush::current()->noteFolder(folder);
        }
    }
}

std::int64_t regularFileBytes(const Path& folder) {
    const std::string path = absoluteText(folder);
    checkPath(path);
    if (!isDirectory(path)) {
        return 0;
    }
    return sizeBelow(openRoot(path, SystemOperation::list), path, false);
}

std::int64_t byteSize(const Path& url) {
    const std::string path = absoluteText(url);
    checkPath(path);
    struct ::stat st {};
    if (sys::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            throw SystemError(SystemOperation::examine, path, errno);
        }
        return 0;
    }
    if (!S_ISDIR(st.st_mode)) {
        return static_cast<std::int64_t>(st.st_size);
    }
    return sizeBelow(openRoot(path, SystemOperation::list), path);
}

std::int64_t byteSize(const Path& url, FileStamps& stamps) {
    const std::string path = absoluteText(url);
    checkPath(path);
    FolderQueue<std::string> folders(std::string{});
    auto parts = walkParts<StampingWalk>([&] { return std::make_unique<StampingWalk>(path, folders); });
    folders.run(parts);
    std::int64_t total = 0;
    for (auto& part : parts) {
        total += part->total;
        stamps.merge(part->stamps);
    }
    return total;
}

void move(const Path& from, const Path& to) {
    const std::string source = absoluteText(from);
    const std::string destination = absoluteText(to);
    if (sys::rename(source.c_str(), destination.c_str()) != 0) {
        throw SystemError(SystemOperation::move, from.native(), errno);
    }
    detail::folderChanged(parentText(source), false);
    detail::folderChanged(parentText(destination), false);
}

} // namespace olvex::FileSafety
