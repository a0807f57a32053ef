#include "fs/FileSafety.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "base/Uuid.h"

namespace olvex::FileSafety {

namespace {

constexpr size_t kCopyChunk = 1 << 20;

std::string absoluteText(const Path& url) {
    const std::string& text = url.native();
    if (!text.empty() && text.front() == '/') {
        return text;
    }
    // Relative paths are taken from the working folder, joined as text and never resolved.
    return (std::filesystem::current_path() / url).native();
}

// Examines one item without following it. Returns false when it does not exist.
bool examine(const std::string& path, struct ::stat& st) {
    if (sys::lstat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
            throw ManagerError(linkOrSpecialFile(path));
        }
        return true;
    }
    if (errno == ENOENT) {
        return false;
    }
    if (errno == ENAMETOOLONG) {
        throw ManagerError(pathTooLong(path));
    }
    throw ManagerError("无法检查路径：" + path);
}

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

// A folder opened to flush it, never through a link.
sys::Fd openFolder(const std::string& path) {
    sys::Fd folder(sys::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!folder.valid()) {
        throw SystemError(SystemOperation::flush, path, errno);
    }
    return folder;
}

// The type of a listed entry that is to be walked: the listing's own, examined only where the
// file system reports none. A link or special file is refused; DT_UNKNOWN when it is gone.
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
    Flush flush;
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
// `destinationFolder` are the folders the names are taken in (AT_FDCWD for whole paths).
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
    if (walker.flush == Flush::eachFile && sys::fsync(out.get()) != 0) {
        throw SystemError(SystemOperation::flush, destination, errno);
    }
}

void copyBelow(const sys::Fd& source, const std::string& sourcePath, const sys::Fd& destination,
               const std::string& destinationPath, Walker& walker, const FileSafety::Skip& skip) {
    for (const auto& entry : FileSafety::entriesAt(source.get(), sourcePath)) {
        if (walker.control) {
            walker.control->check();
        }
        if (skip && skip(entry.name)) {
            continue;
        }
        const std::string from = sourcePath + "/" + entry.name;
        const std::string to = destinationPath + "/" + entry.name;
        const char* name = entry.name.c_str();
        if (walkedType(source.get(), entry, from) != DT_DIR) {
            copyFile(source.get(), entry.name, from, destination.get(), entry.name, to, walker);
            continue;
        }
        const sys::Fd sourceFolder = FileSafety::openFolderAt(source.get(), entry.name, from, SystemOperation::list);
        if (sys::mkdirat(destination.get(), name, 0700) != 0 && errno != EEXIST) {
            throw SystemError(SystemOperation::createDirectory, to, errno);
        }
        const sys::Fd destinationFolder =
            FileSafety::openFolderAt(destination.get(), entry.name, to, SystemOperation::createDirectory);
        copyBelow(sourceFolder, from, destinationFolder, to, walker, nullptr);
    }
}

std::int64_t sizeBelow(const sys::Fd& folder, const std::string& path, bool refuseSpecial = true) {
    std::int64_t total = 0;
    for (const auto& entry : FileSafety::entriesAt(folder.get(), path)) {
        const std::string child = path + "/" + entry.name;
        struct ::stat st {};
        if (entry.type != DT_DIR) {
            // A file's length needs its own examination; a folder's listing says all.
            if (sys::fstatat(folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    continue;
                }
                throw ManagerError("无法检查路径：" + child);
            }
            if (S_ISREG(st.st_mode)) {
                total += static_cast<std::int64_t>(st.st_size);
                continue;
            }
            if (!S_ISDIR(st.st_mode)) {
                if (!refuseSpecial) {
                    continue;
                }
                throw ManagerError(linkOrSpecialFile(child));
            }
        }
        total += sizeBelow(FileSafety::openFolderAt(folder.get(), entry.name, child, SystemOperation::list), child,
                           refuseSpecial);
    }
    return total;
}

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
    const int removed =
        parent == AT_FDCWD ? sys::rmdir(path.c_str()) : sys::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
    if (removed != 0 && errno != ENOENT) {
        throw SystemError(SystemOperation::remove, path, errno);
    }
    return true;
}

} // namespace

std::vector<std::string_view> pathComponents(std::string_view path) {
    std::vector<std::string_view> components;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        std::string_view component = path.substr(0, slash);
        if (!component.empty()) {
            components.push_back(component);
        }
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return components;
}

void checkPath(const Path& url) {
    walkDown(absoluteText(url), [](const std::string& prefix, std::string_view component) {
        if (component == "." || component == "..") {
            throw ManagerError("路径中不允许 . 或 ..");
        }
        struct ::stat st {};
        examine(prefix, st);
    });
}

bool isDirectory(const Path& url) {
    struct ::stat st {};
    return sys::lstat(absoluteText(url).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const Path& url) {
    struct ::stat st {};
    if (sys::lstat(absoluteText(url).c_str(), &st) == 0) {
        return true;
    }
    if (errno == ENOENT) {
        return false;
    }
    throw SystemError(SystemOperation::examine, url.native(), errno);
}

void checkTree(const Path& url) {
    checkPath(url);
    std::string path = absoluteText(url);
    struct ::stat st {};
    if (!examine(path, st) || !S_ISDIR(st.st_mode)) {
        return;
    }
    checkBelow(openFolderAt(AT_FDCWD, path, path, SystemOperation::list), path);
}

sys::Fd openFolderAt(int parent, const std::string& name, const std::string& path, SystemOperation failing) {
    sys::Fd folder(sys::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (folder.valid()) {
        return folder;
    }
    int error = errno;
    if (error == ENOTDIR || error == ELOOP) {
        // Linux reports a link met by a no-follow folder opening as "not a folder": only an
        // examination tells a link or special file, refused, from a plain file.
        struct ::stat st {};
        if (sys::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
            !S_ISDIR(st.st_mode)) {
            throw ManagerError(linkOrSpecialFile(path));
        }
    }
    throw SystemError(failing, path, error);
}

std::vector<sys::DirEntry> entriesAt(int folder, const std::string& path) {
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(folder, entries) != 0) {
        throw SystemError(SystemOperation::list, path, errno);
    }
    return entries;
}

void directory(const Path& url) {
    checkPath(url);
    walkDown(absoluteText(url), [](const std::string& prefix, std::string_view) {
        struct ::stat st {};
        if (sys::lstat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                throw SystemError(SystemOperation::createDirectory, prefix, ENOTDIR);
            }
        } else if (errno != ENOENT) {
            throw SystemError(SystemOperation::createDirectory, prefix, errno);
        } else if (sys::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            throw SystemError(SystemOperation::createDirectory, prefix, errno);
        }
    });
}

namespace {
void removeItem(const Path& url, bool leftover) {
    checkPath(url);
    std::string path = absoluteText(url);
    struct ::stat st {};
    if (sys::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throw SystemError(SystemOperation::examine, path, errno);
    }
    if (S_ISDIR(st.st_mode)) {
        if (leftover) {
            makeWritable(AT_FDCWD, path);
        }
        removeFolderAt(AT_FDCWD, path, path, leftover);
    } else if (sys::unlink(path.c_str()) != 0) {
        throw SystemError(SystemOperation::remove, path, errno);
    }
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
    if (flush == Flush::deferred && !wholeVolumeFlush(Path(to).parent_path())) {
        flush = Flush::eachFile;
    }
    Walker walker{control, flush, true, {}};
    if (control) {
        control->check();
    }
    checkPath(from);
    checkPath(to);
    struct ::stat st {};
    if (sys::lstat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        copyFile(AT_FDCWD, from, from, AT_FDCWD, to, to, walker);
        return;
    }
    const sys::Fd sourceFolder = openFolderAt(AT_FDCWD, from, from, SystemOperation::list);
    directory(to);
    copyBelow(sourceFolder, from, openFolderAt(AT_FDCWD, to, to, SystemOperation::createDirectory), to, walker, skip);
}

std::int64_t regularFileBytes(const Path& folder) {
    const std::string path = absoluteText(folder);
    checkPath(path);
    if (!isDirectory(path)) {
        return 0;
    }
    return sizeBelow(openFolderAt(AT_FDCWD, path, path, SystemOperation::list), path, false);
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
    return sizeBelow(openFolderAt(AT_FDCWD, path, path, SystemOperation::list), path);
}

bool openRegularFile(const std::string& path, OpenedFile& file, SystemOperation opening, SystemOperation examining) {
    return openRegularFile(AT_FDCWD, path, path, file, opening, examining);
}

bool openRegularFile(int folder, const std::string& name, const std::string& path, OpenedFile& file,
                     SystemOperation opening, SystemOperation examining) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    file.descriptor.reset(folder == AT_FDCWD ? sys::open(name.c_str(), kFlags)
                                             : sys::openat(folder, name.c_str(), kFlags));
    if (!file.descriptor.valid()) {
        if (errno == ENOENT) {
            return false;
        }
        if (errno == ELOOP) {
            throw ManagerError(linkOrSpecialFile(path));
        }
        throw SystemError(opening, path, errno);
    }
    if (sys::fstat(file.descriptor.get(), &file.status) != 0) {
        throw SystemError(examining, path, errno);
    }
    if (!S_ISREG(file.status.st_mode)) {
        throw ManagerError(linkOrSpecialFile(path));
    }
    return true;
}

std::vector<sys::DirEntry> list(const Path& url) {
    checkPath(url);
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(absoluteText(url).c_str(), entries) != 0) {
        throw SystemError(SystemOperation::list, url.native(), errno);
    }
    return entries;
}

std::optional<std::string> readBounded(const Path& url, std::int64_t limit, const std::string& tooLarge) {
    checkPath(url);
    const std::string path = absoluteText(url);
    OpenedFile file;
    if (!openRegularFile(path, file, SystemOperation::read, SystemOperation::read)) {
        return std::nullopt;
    }
    if (file.status.st_size > limit) {
        throw ManagerError(tooLarge);
    }
    std::string data;
    data.reserve(static_cast<size_t>(file.status.st_size));
    // One byte past the limit tells a file that grew since it was examined.
    if (sys::readUpTo(file.descriptor.get(), static_cast<size_t>(limit) + 1, data) != 0) {
        throw SystemError(SystemOperation::read, path, errno);
    }
    if (static_cast<std::int64_t>(data.size()) > limit) {
        throw ManagerError(tooLarge);
    }
    return data;
}

std::string readFile(const Path& url, std::int64_t limit, const std::string& tooLarge) {
    std::optional<std::string> data = readBounded(url, limit, tooLarge);
    if (!data) {
        throw SystemError(SystemOperation::read, absoluteText(url), ENOENT);
    }
    return std::move(*data);
}

void writeFileAtomically(const Path& url, const std::string& data) {
    checkPath(url);
    std::string path = absoluteText(url);
    Path folder = Path(path).parent_path();
    std::string temporary = (folder / (".olvex-tmp-" + Uuid::random().text())).native();
    sys::Fd file(sys::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!file.valid()) {
        throw SystemError(SystemOperation::create, temporary, errno);
    }
    auto fail = [&](SystemOperation operation, const std::string& where) {
        int error = errno;
        file.reset();
        ::unlink(temporary.c_str());
        throw SystemError(operation, where, error);
    };
    if (sys::writeAll(file.get(), data.data(), data.size()) != 0) {
        fail(SystemOperation::write, path);
    }
    if (sys::fsync(file.get()) != 0) {
        fail(SystemOperation::flush, path);
    }
    file.reset();
    if (sys::rename(temporary.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        throw SystemError(SystemOperation::move, path, error);
    }
    syncDirectory(folder);
}

void move(const Path& from, const Path& to) {
    if (sys::rename(absoluteText(from).c_str(), absoluteText(to).c_str()) != 0) {
        throw SystemError(SystemOperation::move, from.native(), errno);
    }
}

void syncDirectory(const Path& url) {
    const std::string path = absoluteText(url);
    const sys::Fd folder = openFolder(path);
    if (sys::fsync(folder.get()) != 0) {
        throw SystemError(SystemOperation::flush, path, errno);
    }
}

bool wholeVolumeFlush(const Path& folder) {
#ifdef __linux__
    // FUSE passes syncfs to the server only in recent kernels and servers; there each file is
    // flushed on its own. A volume that cannot be examined is treated the same way: slower,
    // never less safe.
    constexpr long kFuse = 0x65735546;
    struct ::statfs info {};
    return sys::statfs(absoluteText(folder).c_str(), &info) == 0 && static_cast<long>(info.f_type) != kFuse;
#else
    // Elsewhere sys::fsync is the full flush (F_FULLFSYNC on macOS) and there is no syncfs.
    (void)folder;
    return false;
#endif
}

VolumeFlush::VolumeFlush(const Path& folder) : m_path(absoluteText(folder)), m_whole(wholeVolumeFlush(folder)) {
    if (m_whole) {
        m_descriptor = openFolder(m_path);
    }
}

void VolumeFlush::flush() {
    if (m_whole && sys::syncfs(m_descriptor.get()) != 0) {
        throw SystemError(SystemOperation::flush, m_path, errno);
    }
}

} // namespace olvex::FileSafety
