#include "fs/Sys.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#include <sys/syscall.h>
#define OLVEX_HAS_OPENAT2 1
#endif

#ifdef OLVEX_FAULT_INJECTION
#include <mutex>
#endif

namespace olvex::sys {

#ifdef OLVEX_FAULT_INJECTION
namespace fault {
namespace {
std::atomic<long> g_calls{0};
std::atomic<long> g_failAt{0};
std::atomic<int> g_error{EIO};
std::atomic<long> g_crashAt{0};
std::atomic<int> g_crashStatus{86};
std::atomic<bool> g_trace{false};
std::mutex g_traceLock;
std::vector<std::string> g_traceNames;
std::function<void(long, const char*)> g_onCall;
std::function<int(const Call&)> g_inject;
std::atomic<bool> g_fuse{false};
std::atomic<bool> g_noOpenNoLinks{false};
std::atomic<bool> g_armed{false};
} // namespace

void reportFuse(bool on) {
    g_fuse = on;
}

void withoutOpenNoLinks(bool on) {
    g_noOpenNoLinks = on;
}

void arm(const Plan& plan) {
    {
        std::lock_guard guard(g_traceLock);
        g_traceNames.clear();
    }
    g_error = plan.error;
    g_crashStatus = plan.crashStatus;
    g_trace = plan.recordTrace;
    g_onCall = plan.onCall;
    g_inject = plan.inject;
    g_failAt = plan.failAt;
    g_crashAt = plan.crashAt;
    g_calls = 0;
    g_armed = true;
}

void disarm() {
    g_armed = false;
    g_failAt = 0;
    g_crashAt = 0;
    g_trace = false;
    g_onCall = nullptr;
    g_inject = nullptr;
}

long calls() {
    return g_calls.load();
}

std::vector<std::string> trace() {
    std::lock_guard guard(g_traceLock);
    return g_traceNames;
}
} // namespace fault

namespace {
// Counts one call; true when the call must fail (errno already set).
bool injected(fault::Call call) {
    const long n = call.number = ++fault::g_calls;
    const char* name = call.name;
    if (fault::g_trace) {
        std::lock_guard guard(fault::g_traceLock);
        fault::g_traceNames.emplace_back(name);
    }
    if (fault::g_onCall) {
        fault::g_onCall(n, name);
    }
    if (fault::g_crashAt != 0 && n == fault::g_crashAt) {
        ::_exit(fault::g_crashStatus);
    }
    if (fault::g_failAt != 0 && n == fault::g_failAt) {
        errno = fault::g_error;
        return true;
    }
    if (fault::g_inject) {
        if (int error = fault::g_inject(call); error != 0) {
            errno = error;
            return true;
        }
    }
    return false;
}

// Calls that release a resource (close, unlock) are not counted, so that they add no rows to a
// sweep, but an injector may still fail them.
bool injectedRelease(const char* name, int fd) {
    if (fault::g_inject) {
        if (int error = fault::g_inject(fault::Call{fault::g_calls.load(), name, "", true, fd}); error != 0) {
            errno = error;
            return true;
        }
    }
    return false;
}
} // namespace
// The optional trailing arguments are designated initialisers of the Call's details.
#define OLVEX_SEAM(callName, callPath, callMutates, failValue, ...)                                                    \
    do {                                                                                                               \
        if (injected(                                                                                                  \
                fault::Call{.number = 0, .name = callName, .path = callPath, .mutates = callMutates, __VA_ARGS__}))    \
            return failValue;                                                                                          \
    } while (0)

bool oneThread() {
    return fault::g_armed;
}
#else
#define OLVEX_SEAM(name, path, mutates, failValue, ...)                                                                \
    do {                                                                                                               \
    } while (0)

bool oneThread() {
    return false;
}
#endif

int open(const char* path, int flags, mode_t mode) {
    OLVEX_SEAM("open", path, (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0, -1, .flags = flags);
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openat(int dirfd, const char* path, int flags, mode_t mode) {
    OLVEX_SEAM("openat", path, (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0, -1, .fd = dirfd, .flags = flags);
    int fd;
    do {
        fd = ::openat(dirfd, path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openNoLinks(const char* path, int flags) {
    OLVEX_SEAM("openat2", path, (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0, -1, .flags = flags);
#ifdef OLVEX_HAS_OPENAT2
#ifdef OLVEX_FAULT_INJECTION
    if (fault::g_noOpenNoLinks) {
        errno = ENOSYS;
        return -1;
    }
#endif
    // Once refused as unknown (ENOSYS, or EINVAL/EPERM from older kernels and syscall filters),
    // it is not asked again.
    static std::atomic<bool> missing{false};
    if (!missing) {
        struct open_how how {};
        how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
        how.resolve = RESOLVE_NO_SYMLINKS;
        long fd;
        do {
            fd = ::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || (errno != ENOSYS && errno != EINVAL && errno != EPERM)) {
            return static_cast<int>(fd);
        }
        missing = true;
    }
#else
    (void)path;
    (void)flags;
#endif
    errno = ENOSYS;
    return -1;
}

ssize_t read(int fd, void* buffer, size_t count) {
    OLVEX_SEAM("read", "", false, -1);
    return ::read(fd, buffer, count);
}

off_t lseek(int fd, off_t offset, int whence) {
    OLVEX_SEAM("lseek", "", false, -1);
    return ::lseek(fd, offset, whence);
}

ssize_t write(int fd, const void* buffer, size_t count) {
    OLVEX_SEAM("write", "", true, -1, .fd = fd, .data = buffer, .size = count);
    return ::write(fd, buffer, count);
}

int fsync(int fd) {
    OLVEX_SEAM("fsync", "", false, -1, .fd = fd);
#ifdef __APPLE__
    // fsync alone leaves the data in the drive's cache; file systems without the full flush
    // refuse it, and then fsync is the best there is.
    if (::fcntl(fd, F_FULLFSYNC) == 0) {
        return 0;
    }
#endif
    return ::fsync(fd);
}

int syncfs(int fd) {
    OLVEX_SEAM("syncfs", "", false, -1, .fd = fd);
#ifdef __linux__
    return ::syncfs(fd);
#else
    (void)fd;
    errno = ENOSYS;
    return -1;
#endif
}

#ifdef __linux__
int statfs(const char* path, struct ::statfs* out) {
    OLVEX_SEAM("statfs", path, false, -1);
#ifdef OLVEX_FAULT_INJECTION
    if (fault::g_fuse) {
        const int result = ::statfs(path, out);
        out->f_type = 0x65735546;
        return result;
    }
#endif
    return ::statfs(path, out);
}
#endif

int fchmodat(int dirfd, const char* path, mode_t mode, int flags) {
    OLVEX_SEAM("fchmodat", path, true, -1, .fd = dirfd, .flags = flags);
    return ::fchmodat(dirfd, path, mode, flags);
}

int fchmod(int fd, mode_t mode) {
    OLVEX_SEAM("fchmod", "", true, -1, .fd = fd);
    return ::fchmod(fd, mode);
}

int linkat(int oldFolder, const char* oldName, int newFolder, const char* newName, int flags) {
    OLVEX_SEAM("linkat", oldName, true, -1, .fd = newFolder, .to = newName, .flags = flags, .from = oldFolder);
    return ::linkat(oldFolder, oldName, newFolder, newName, flags);
}

// A descriptor is released whatever close reports (as Linux does even on EIO), so callers
// never retry it.
int close(int fd) {
    int result = ::close(fd);
#ifdef OLVEX_FAULT_INJECTION
    if (result == 0 && injectedRelease("close", fd)) {
        return -1;
    }
#endif
    return result;
}

int unlock(int fd) {
#ifdef OLVEX_FAULT_INJECTION
    if (injectedRelease("unlock", fd)) {
        return -1;
    }
#endif
    return ::flock(fd, LOCK_UN);
}

int dup(int fd) {
    OLVEX_SEAM("dup", "", false, -1);
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int mkdir(const char* path, mode_t mode) {
    OLVEX_SEAM("mkdir", path, true, -1);
    return ::mkdir(path, mode);
}

int mkdirat(int dirfd, const char* path, mode_t mode) {
    OLVEX_SEAM("mkdirat", path, true, -1, .fd = dirfd);
    return ::mkdirat(dirfd, path, mode);
}

int rename(const char* from, const char* to) {
    OLVEX_SEAM("rename", from, true, -1, .to = to);
    return ::rename(from, to);
}

int unlink(const char* path) {
    OLVEX_SEAM("unlink", path, true, -1);
    return ::unlink(path);
}

int unlinkat(int dirfd, const char* path, int flags) {
    OLVEX_SEAM("unlinkat", path, true, -1, .fd = dirfd, .flags = flags);
    return ::unlinkat(dirfd, path, flags);
}

int rmdir(const char* path) {
    OLVEX_SEAM("rmdir", path, true, -1);
    return ::rmdir(path);
}

int stat(const char* path, struct ::stat* out) {
    OLVEX_SEAM("stat", path, false, -1);
    return ::stat(path, out);
}

int lstat(const char* path, struct ::stat* out) {
    OLVEX_SEAM("lstat", path, false, -1);
    return ::lstat(path, out);
}

int fstat(int fd, struct ::stat* out) {
    OLVEX_SEAM("fstat", "", false, -1);
    return ::fstat(fd, out);
}

int fstatat(int dirfd, const char* path, struct ::stat* out, int flags) {
    OLVEX_SEAM("fstatat", path, false, -1);
    return ::fstatat(dirfd, path, out, flags);
}

int flock(int fd, int operation) {
    OLVEX_SEAM("flock", "", false, -1);
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result < 0 && errno == EINTR);
    return result;
}

int statvfs(const char* path, struct ::statvfs* out) {
    OLVEX_SEAM("statvfs", path, false, -1);
    return ::statvfs(path, out);
}

int access(const char* path, int mode) {
    OLVEX_SEAM("access", path, false, -1);
    return ::access(path, mode);
}

bool readlink(const char* path, std::string& out) {
    OLVEX_SEAM("readlink", path, false, false);
    char buffer[PATH_MAX];
    ssize_t length = ::readlink(path, buffer, sizeof buffer);
    if (length < 0) {
        return false;
    }
    out.assign(buffer, static_cast<size_t>(length));
    return true;
}

bool realpath(const char* path, std::string& out) {
    OLVEX_SEAM("realpath", path, false, false);
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        return false;
    }
    out.assign(resolved);
    std::free(resolved);
    return true;
}

namespace {
// Reads the entries of an open directory stream and closes it (with the descriptor it owns).
int readEntries(DIR* dir, std::vector<DirEntry>& out) {
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) {
                int saved = errno;
                ::closedir(dir);
                errno = saved;
                return -1;
            }
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct ::stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                type = static_cast<unsigned char>(IFTODT(st.st_mode));
            }
        }
        out.push_back(DirEntry{name, type});
    }
    ::closedir(dir);
    return 0;
}

// A stream over a descriptor this function owns; closed on failure.
DIR* openStream(int fd) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return dir;
}
} // namespace

int listDirectory(const char* path, std::vector<DirEntry>& out) {
    OLVEX_SEAM("listDirectory", path, false, -1);
    out.clear();
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    DIR* dir = openStream(fd);
    return dir == nullptr ? -1 : readEntries(dir, out);
}

int listDirectory(int folder, std::vector<DirEntry>& out) {
    OLVEX_SEAM("listDirectoryAt", "", false, -1);
    out.clear();
    int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    DIR* dir = openStream(fd);
    if (dir == nullptr) {
        return -1;
    }
    // A duplicate shares the position of the original, which an earlier listing left at the end.
    ::rewinddir(dir);
    return readEntries(dir, out);
}

ssize_t copyFileRange(int in, int out, size_t count) {
    OLVEX_SEAM("copyFileRange", "", true, -1, .fd = out, .size = count, .from = in);
#ifdef __linux__
    ssize_t n;
    do {
        n = ::copy_file_range(in, nullptr, out, nullptr, count, 0);
    } while (n < 0 && errno == EINTR);
    return n;
#else
    (void)in;
    (void)out;
    (void)count;
    errno = ENOSYS;
    return -1;
#endif
}

int writeAll(int fd, const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t n = write(fd, p, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that makes no progress would otherwise be retried for ever.
            if (n == 0) {
                errno = EIO;
            }
            return -1;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return 0;
}

ssize_t readSome(int fd, void* buffer, size_t count) {
    for (;;) {
        ssize_t n = read(fd, buffer, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n;
    }
}

int readUpTo(int fd, size_t limit, std::string& out) {
    constexpr size_t kChunk = 65'536;
    out.clear();
    std::vector<char> chunk(std::min(kChunk, limit));
    while (out.size() < limit) {
        ssize_t n = readSome(fd, chunk.data(), std::min(chunk.size(), limit - out.size()));
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        out.append(chunk.data(), static_cast<size_t>(n));
    }
    return 0;
}

} // namespace olvex::sys
