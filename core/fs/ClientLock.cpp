#include "fs/ClientLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

std::string cannotCreate(const std::string& path, int error) {
    return "无法创建操作锁“" + path + "”：" + errnoText(error) + "。";
}

// Opens the lock file without following a link and without blocking on a FIFO, and makes sure
// it is a regular file: a link, pipe or device put in its place is refused, never locked.
sys::Fd openLockFile(const Path& file, int flags) {
    FileSafety::checkPath(file);
    sys::Fd descriptor(sys::open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!descriptor.valid()) {
        return descriptor;
    }
    struct ::stat st {};
    if (sys::fstat(descriptor.get(), &st) != 0) {
        throw ManagerError(cannotCreate(file.native(), errno));
    }
    if (!S_ISREG(st.st_mode)) {
        throw ManagerError(linkOrSpecialFile(file.native()));
    }
    return descriptor;
}

} // namespace

ClientLock::ClientLock(const Path& storage) {
    FileSafety::directory(storage);
    const Path file = storage / "operation.lock";
    m_descriptor = openLockFile(file, O_RDWR | O_CREAT);
    if (!m_descriptor.valid()) {
        const int error = errno;
        throw ManagerError(error == ELOOP ? linkOrSpecialFile(file.native()) : cannotCreate(file.native(), error));
    }
    if (sys::flock(m_descriptor.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            throw LeaseHeldError();
        }
        throw SystemError(SystemOperation::lock, file.native(), errno);
    }
}

ClientLock::~ClientLock() {
    sys::unlock(m_descriptor.get());
}

bool ClientLock::isHeld(const Path& storage) {
    const Path file = storage / "operation.lock";
    sys::Fd descriptor;
    try {
        descriptor = openLockFile(file, O_RDONLY);
    } catch (const ManagerError&) {
        return false; // no lease can be held on what is not a lock file
    }
    if (!descriptor.valid() || sys::flock(descriptor.get(), LOCK_EX | LOCK_NB) == 0) {
        return false; // the lock closes with the descriptor at once
    }
    return errno == EWOULDBLOCK;
}

DeletionLock::DeletionLock(const Path& folder) {
    m_descriptor.reset(sys::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (m_descriptor.valid() && sys::flock(m_descriptor.get(), LOCK_EX | LOCK_NB) != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        m_descriptor.reset();
    }
}

} // namespace olvex
