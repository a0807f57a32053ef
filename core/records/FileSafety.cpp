#include "records/FileSafety.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "records/Errors.h"
#include "records/OperationControl.h"
#include "records/Uuid.h"

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

// Below a folder that was checked whole, each entry's ancestors are the walk's own folders,
// examined as the walk entered them; so only the entry itself is examined again.
bool examineEntry(const std::string& path, struct ::stat& st) {
    return examine(path, st);
}

// The entries of a folder; a failure names `shown` (the path as the caller gave it).
std::vector<sys::DirEntry> entriesOf(const std::string& path, const std::string& shown) {
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(path.c_str(), entries) != 0) {
        throw SystemError(SystemOperation::list, shown, errno);
    }
    return entries;
}

std::vector<sys::DirEntry> entriesOf(const std::string& path) {
    return entriesOf(path, path);
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

struct Walker {
    const OperationControl* control;
    Flush flush;
    std::vector<char> buffer;
};

// The exclusive create is the check that nothing, not even a link, is at the destination.
void copyFile(const std::string& source, const std::string& destination, Walker& walker) {
    sys::Fd out(sys::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!out.valid()) {
        throw ManagerError(errno == EEXIST ? "复制目标已存在。" : "无法创建文件，请检查权限和磁盘空间。");
    }
    sys::Fd in(sys::open(source.c_str(), O_RDONLY | O_NOFOLLOW));
    if (!in.valid()) {
        throw SystemError(SystemOperation::open, source, errno);
    }
    if (walker.buffer.empty()) {
        walker.buffer.resize(kCopyChunk);
    }
    for (;;) {
        ssize_t n = sys::readSome(in.get(), walker.buffer.data(), walker.buffer.size());
        if (n < 0) {
            throw SystemError(SystemOperation::read, source, errno);
        }
        if (n == 0) {
            break;
        }
        if (walker.control) {
            walker.control->check();
        }
        if (sys::writeAll(out.get(), walker.buffer.data(), static_cast<size_t>(n)) != 0) {
            throw SystemError(SystemOperation::write, destination, errno);
        }
        if (walker.control) {
            walker.control->addProgress(n);
        }
    }
    if (walker.flush == Flush::eachFile && sys::fsync(out.get()) != 0) {
        throw SystemError(SystemOperation::flush, destination, errno);
    }
}

void copyEntry(const std::string& source, const std::string& destination, Walker& walker, bool checked) {
    if (walker.control) {
        walker.control->check();
    }
    struct ::stat st {};
    bool sourceExists;
    if (checked) {
        sourceExists = examineEntry(source, st);
    } else {
        checkPath(source);
        checkPath(destination);
        sourceExists = sys::lstat(source.c_str(), &st) == 0;
    }
    if (!sourceExists || !S_ISDIR(st.st_mode)) {
        copyFile(source, destination, walker);
        return;
    }
    if (checked) {
        if (sys::mkdir(destination.c_str(), 0700) != 0 && errno != EEXIST) {
            throw SystemError(SystemOperation::createDirectory, destination, errno);
        }
        struct ::stat dst {};
        if (!examineEntry(destination, dst) || !S_ISDIR(dst.st_mode)) {
            throw SystemError(SystemOperation::createDirectory, destination, ENOTDIR);
        }
    } else {
        directory(destination);
    }
    const std::vector<sys::DirEntry> entries = entriesOf(source);
    for (const auto& entry : entries) {
        copyEntry(source + "/" + entry.name, destination + "/" + entry.name, walker, true);
    }
}

std::int64_t sizeOf(const std::string& path, bool checked) {
    struct ::stat st {};
    bool present;
    if (checked) {
        present = examineEntry(path, st);
    } else {
        checkPath(path);
        present = sys::lstat(path.c_str(), &st) == 0;
        if (!present && errno != ENOENT) {
            throw SystemError(SystemOperation::examine, path, errno);
        }
    }
    if (!present) {
        return 0;
    }
    if (!S_ISDIR(st.st_mode)) {
        return static_cast<std::int64_t>(st.st_size);
    }
    const std::vector<sys::DirEntry> entries = entriesOf(path);
    std::int64_t total = 0;
    for (const auto& entry : entries) {
        total += sizeOf(path + "/" + entry.name, true);
    }
    return total;
}

void checkBelow(const std::string& path) {
    const std::vector<sys::DirEntry> entries = entriesOf(path);
    for (const auto& entry : entries) {
        std::string child = path + "/" + entry.name;
        struct ::stat st {};
        if (examineEntry(child, st) && S_ISDIR(st.st_mode)) {
            checkBelow(child);
        }
    }
}

// A folder the user left without write permission cannot be emptied; its owner may change that.
void makeWritable(const std::string& path) {
    struct ::stat st {};
    if (sys::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & S_IRWXU) != S_IRWXU) {
        // A failure shows as the removal's own failure just after.
        sys::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    }
}

void removeBelow(const std::string& path, bool leftover) {
    if (leftover) {
        makeWritable(path);
    }
    const std::vector<sys::DirEntry> entries = entriesOf(path);
    for (const auto& entry : entries) {
        std::string child = path + "/" + entry.name;
        // The listing's own type is enough to choose between rmdir and unlink: a wrong guess
        // fails (EISDIR, ENOTDIR, or the no-follow open of a link), it never follows anything.
        unsigned char type = entry.type;
        if (type == DT_UNKNOWN) {
            struct ::stat st {};
            if (sys::lstat(child.c_str(), &st) != 0) {
                if (errno == ENOENT) {
                    continue;
                }
                throw SystemError(SystemOperation::examine, child, errno);
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_DIR) {
            removeBelow(child, leftover);
            if (sys::rmdir(child.c_str()) != 0) {
                throw SystemError(SystemOperation::remove, child, errno);
            }
        } else if (sys::unlink(child.c_str()) != 0 && errno != ENOENT) {
            throw SystemError(SystemOperation::remove, child, errno);
        }
    }
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
    checkBelow(path);
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
        removeBelow(path, leftover);
        if (sys::rmdir(path.c_str()) != 0) {
            throw SystemError(SystemOperation::remove, path, errno);
        }
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

void copyTree(const Path& source, const Path& destination, const OperationControl* control, Flush flush) {
    const std::string target = absoluteText(destination);
    if (flush == Flush::deferred && !wholeVolumeFlush(Path(target).parent_path())) {
        flush = Flush::eachFile;
    }
    Walker walker{control, flush, {}};
    copyEntry(absoluteText(source), target, walker, false);
}

std::int64_t byteSize(const Path& url) {
    return sizeOf(absoluteText(url), false);
}

bool openRegularFile(const std::string& path, OpenedFile& file, SystemOperation opening, SystemOperation examining) {
    file.descriptor.reset(sys::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
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
    return entriesOf(absoluteText(url), url.native());
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
