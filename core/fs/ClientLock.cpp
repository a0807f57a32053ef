#include "fs/ClientLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

ClientLock::ClientLock(const Path& storage) {
    FileSafety::directory(storage);
    Path file = storage / "operation.lock";
    m_descriptor.reset(sys::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600));
    if (!m_descriptor.valid()) {
        throw ManagerError("无法创建操作锁");
    }
    if (sys::flock(m_descriptor.get(), LOCK_EX | LOCK_NB) != 0) {
        throw ManagerError("另一个管理器正在操作此游戏目录，请稍后再试。");
    }
}

ClientLock::~ClientLock() {
    sys::unlock(m_descriptor.get());
}

} // namespace olvex
