#pragma once

#include "base/Path.h"
#include "fs/Sys.h"

namespace olvex {

// An exclusive, non-blocking, cross-process lease on a folder: a flock on
// <storage>/operation.lock held for the object's lifetime. flock locks belong to the open
// file, so a second lease in this same process is refused just like another process's.
class ClientLock {
public:
    // Creates the storage folder (0700) and lock file (0600) when missing, then locks.
    // Throws "无法创建操作锁" or "另一个管理器正在操作此游戏目录，请稍后再试。".
    explicit ClientLock(const Path& storage);
    ~ClientLock();

private:
    sys::Fd m_descriptor;
};

} // namespace olvex
