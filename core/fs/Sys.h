#pragma once

// The one module through which the core makes its file-system calls. Each function has the
// POSIX contract of its namesake (result, errno), so callers read like plain POSIX code.
// Keeping every call here lets test builds (OLVEX_FAULT_INJECTION) make the Nth call fail
// with a chosen errno or end the process there; release builds compile to direct calls.

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#include <utility>
#include <vector>

namespace olvex::sys {

int open(const char* path, int flags, mode_t mode = 0);
int openat(int dirfd, const char* path, int flags, mode_t mode = 0);
// Opens an absolute path without following a link in any component (openat2 with
// RESOLVE_NO_SYMLINKS: ELOOP at a link). ENOSYS where the system has no such call (not Linux,
// a kernel before 5.6, a sandbox that filters it): the caller then walks the components itself.
int openNoLinks(const char* path, int flags);
ssize_t read(int fd, void* buffer, size_t count);
off_t lseek(int fd, off_t offset, int whence);
ssize_t write(int fd, const void* buffer, size_t count);
// On macOS the full flush (F_FULLFSYNC), which also empties the drive's cache.
int fsync(int fd);
// Flushes the whole file system that holds fd (one call in place of one fsync per file).
// Linux only; elsewhere it fails with ENOSYS (FileSafety::wholeVolumeFlush decides).
int syncfs(int fd);
#ifdef __linux__
int statfs(const char* path, struct ::statfs* out);
#endif
// With AT_SYMLINK_NOFOLLOW a link is never followed: it fails instead (glibc emulates the flag
// through /proc, macOS has it natively).
int fchmodat(int dirfd, const char* path, mode_t mode, int flags);
// The mode of an opened file (a backup's payload files are made read-only this way).
int fchmod(int fd, mode_t mode);
// A second name `newName` in folder `newFolder` for the file `oldName` of `oldFolder`, never
// following a link at the old name (flags 0). Volumes without hard links refuse with EPERM,
// EXDEV, ENOTSUP or (for one file at its limit) EMLINK.
int linkat(int oldFolder, const char* oldName, int newFolder, const char* newName, int flags);
int close(int fd);
// Releases a flock lease; the lease ends with the descriptor in any case.
int unlock(int fd);
int dup(int fd);
int mkdir(const char* path, mode_t mode);
int mkdirat(int dirfd, const char* path, mode_t mode);
int rename(const char* from, const char* to);
int unlink(const char* path);
int unlinkat(int dirfd, const char* path, int flags);
int rmdir(const char* path);
int stat(const char* path, struct ::stat* out);
int lstat(const char* path, struct ::stat* out);
int fstat(int fd, struct ::stat* out);
int fstatat(int dirfd, const char* path, struct ::stat* out, int flags);
int flock(int fd, int operation);
int statvfs(const char* path, struct ::statvfs* out);
int access(const char* path, int mode);
// readlink into a std::string; false with errno set on failure.
bool readlink(const char* path, std::string& out);
// realpath into a std::string; false with errno set on failure.
bool realpath(const char* path, std::string& out);

// One entry of a directory listing. `type` is the d_type of the entry, filled in with one
// lstat when the file system does not report it; DT_UNKNOWN when even that failed.
struct DirEntry {
    std::string name;
    unsigned char type;
};

// Lists a directory's entries except "." and ".." in the order the file system returns them.
// One call of the seam. 0 on success, -1 with errno on failure.
int listDirectory(const char* path, std::vector<DirEntry>& out);
// The same for a folder already opened: listed from its start through a duplicate of the
// descriptor, which stays open and usable for the *at calls.
int listDirectory(int folder, std::vector<DirEntry>& out);

// Writes the whole buffer, retrying short writes and EINTR. -1 with errno on failure; a write
// that makes no progress at all is one (EIO).
// Copies up to count bytes from in to out at their current offsets, both advanced, inside the
// kernel (copy_file_range: a reflink where the file system shares blocks). Linux only;
// elsewhere it fails with ENOSYS and the caller copies through a buffer. Returns the bytes
// copied, 0 at the end of in, -1 with errno.
ssize_t copyFileRange(int in, int out, size_t count);

int writeAll(int fd, const void* buffer, size_t count);
// Reads up to count bytes, retrying EINTR. Returns bytes read, 0 at end, -1 with errno.
ssize_t readSome(int fd, void* buffer, size_t count);
// Reads from the current position into `out` (emptied first, its capacity kept) until the end
// or until `limit` bytes, whichever comes first, in reads of at most 64 KiB, so that memory
// follows what the file holds rather than the limit. A caller that must know whether there is
// more asks for limit + 1 bytes. 0 on success; -1 with errno, `out` holding what came before.
int readUpTo(int fd, size_t limit, std::string& out);

// Owns one descriptor and closes it through close() above when it goes, so that the seam sees
// every close. The result of that close is not examined: the descriptor is released whatever it
// reports, and whatever must reach the disk is flushed explicitly before.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_fd, -1));
        }
        return *this;
    }
    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }
    // Closes the descriptor held, if any, and takes `fd` in its place.
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Whether the calls through this module must come from one thread, in one order: while a test
// build's seam is armed, its call numbers name the points of one sequence. Work that could run
// on several threads runs on the calling thread then. Always false in release builds.
bool oneThread();

#ifdef OLVEX_FAULT_INJECTION
namespace fault {
// Arms the seam: the call with number `failAt` (1-based, counted from the last reset) fails
// with `error`; the call with number `crashAt` ends the process with _exit(crashStatus).
// 0 disables either.

// One call through the seam: `path` is empty for calls on a descriptor; `mutates` is set for
// calls that change the file system or may need space (writes, creating opens, renames…).
// The remaining fields carry what a recorder needs to replay the call (the power-loss model
// of the fault harness): the descriptor of a descriptor call or the folder of an *at call, the
// destination of a rename, the flags of an open and the bytes of a write.
struct Call {
    long number;
    const char* name;
    const char* path;
    bool mutates;
    int fd = -1;
    const char* to = "";
    int flags = 0;
    const void* data = nullptr;
    size_t size = 0;
    // The descriptor a kernel copy reads from (its bytes are those at its current offset), or
    // the folder of a hard link's existing name (`path`; the new name is `to` in `fd`).
    int from = -1;
};

struct Plan {
    long failAt = 0;
    int error = 5; // EIO
    long crashAt = 0;
    int crashStatus = 86;
    bool recordTrace = false;
    // Called before each counted call with its number and name (tests use it to act at an
    // exact point of an operation, such as cancelling between two chunks).
    std::function<void(long, const char*)> onCall = nullptr;
    // Decides for each call an errno to fail it with (0: the call runs). Sees close and unlock
    // too, which are not counted (their number is that of the last counted call).
    std::function<int(const Call&)> inject = nullptr;
};
void arm(const Plan& plan);
void disarm();
// While set, statfs reports every volume as a FUSE mount, so that the file layer takes its
// per-file flushes on any volume (arm and disarm leave it as it is).
void reportFuse(bool on);
// While set, openNoLinks fails with ENOSYS as on a system without it.
void withoutOpenNoLinks(bool on);
long calls();
// Name of each counted call since arm(), when recordTrace was set.
std::vector<std::string> trace();
} // namespace fault
#endif

} // namespace olvex::sys
