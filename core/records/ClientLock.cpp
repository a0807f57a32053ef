#include "records/ClientLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include "records/Errors.h"
#include "records/FileSafety.h"
#include "records/Sys.h"

namespace olvex {

ClientLock::ClientLock(const Path& storage) {
    FileSafety::directory(storage);
    Path file = storage / "operation.lock";
    int fd = sys::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0) {
        throw ManagerError("无法创建操作锁");
    }
    if (sys::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        sys::close(fd);
        throw ManagerError("另一个管理器正在操作此游戏目录，请稍后再试。");
    }
    m_descriptor = fd;
}

ClientLock::~ClientLock() {
    if (m_descriptor >= 0) {
        sys::unlock(m_descriptor);
        sys::close(m_descriptor);
    }
}

} // namespace olvex
