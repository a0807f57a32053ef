#include "fs/PathCheck.h"

#include <cerrno>
#include <fcntl.h>

#include "base/Errors.h"

namespace olvex::FileSafety {

namespace detail {

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

} // namespace detail

using detail::absoluteText;
using detail::examine;
using detail::walkDown;

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

namespace {

// openFolderAt with the opening's flags.
sys::Fd openFolderWith(int parent, const std::string& name, const std::string& path, SystemOperation failing, int flags,
                       const std::string& reported) {
    sys::Fd folder(sys::openat(parent, name.c_str(), flags | O_DIRECTORY | O_NOFOLLOW));
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
    throw SystemError(failing, reported, error);
}

#ifdef O_PATH
// Folders on the way are only passed through: searching them is all the permission needed.
constexpr int kPassThrough = O_PATH;
#else
constexpr int kPassThrough = O_RDONLY;
#endif

} // namespace

sys::Fd openFolderAt(int parent, const std::string& name, const std::string& path, SystemOperation failing) {
    return openFolderWith(parent, name, path, failing, O_RDONLY, path);
}

sys::Fd openRoot(const std::string& path, SystemOperation failing) {
    sys::Fd root(sys::openNoLinks(path.c_str(), O_RDONLY | O_DIRECTORY));
    if (root.valid()) {
        return root;
    }
    const int error = errno;
    // Without the kernel's resolution, and to name the link or file met on the way, the walk
    // below: the one path walk, each component opened relative to the last without following it.
    if (error != ENOSYS && error != ELOOP && error != ENOTDIR) {
        throw SystemError(failing, path, error);
    }
    const std::vector<std::string_view> components = pathComponents(path);
    sys::Fd folder(sys::open("/", (components.empty() ? O_RDONLY : kPassThrough) | O_DIRECTORY));
    if (!folder.valid()) {
        throw SystemError(failing, path, errno);
    }
    std::string prefix;
    for (size_t i = 0; i < components.size(); ++i) {
        const std::string name(components[i]);
        if (name == "." || name == "..") {
            throw ManagerError("路径中不允许 . 或 ..");
        }
        prefix += '/' + name;
        folder = openFolderWith(folder.get(), name, prefix, failing,
                                i + 1 == components.size() ? O_RDONLY : kPassThrough, path);
    }
    return folder;
}

std::pair<std::string, std::string> splitLast(const std::string& path) {
    const std::vector<std::string_view> components = pathComponents(path);
    std::string parent;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        parent += '/';
        parent += components[i];
    }
    return {parent.empty() ? "/" : parent, components.empty() ? "" : std::string(components.back())};
}

std::vector<sys::DirEntry> entriesAt(int folder, const std::string& path) {
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(folder, entries) != 0) {
        throw SystemError(SystemOperation::list, path, errno);
    }
    return entries;
}

namespace {

const struct timespec& modified(const struct ::stat& status) {
#ifdef __APPLE__
    return status.st_mtimespec;
#else
    return status.st_mtim;
#endif
}

} // namespace

Date modificationDate(const struct ::stat& status) {
    const struct timespec& time = modified(status);
    return Date::fromUnix(static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9);
}

std::int64_t modifiedNanoseconds(const struct ::stat& status) {
    const struct timespec& time = modified(status);
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
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

} // namespace olvex::FileSafety
