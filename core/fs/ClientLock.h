#pragma once

#include <optional>

#include "base/Errors.h"
#include "base/Path.h"
#include "fs/Sys.h"

namespace olvex {

// The refusal of a lease that someone else holds ("另一个管理器正在操作此游戏目录，请稍后再试。"):
// its own type, so that housekeeping can tell a staging folder still in use from one it cannot
// clean.
class LeaseHeldError : public ManagerError {
public:
    LeaseHeldError() : ManagerError("另一个管理器正在操作此游戏目录，请稍后再试。") {}
};

// An exclusive, non-blocking, cross-process lease on a folder: a flock on
// <storage>/operation.lock held for the object's lifetime. flock locks belong to the open
// file, so a second lease in this same process is refused just like another process's.
class ClientLock {
public:
    // Creates the storage folder (0700) and lock file (0600) when missing, then locks. A link,
    // pipe or device in place of the lock file is refused ("拒绝链接或特殊文件：<path>"); a lock
    // file that cannot be opened gives "无法创建操作锁“<path>”：<reason>。"; a lease held by
    // anyone else "另一个管理器正在操作此游戏目录，请稍后再试。".
    explicit ClientLock(const Path& storage);
    ~ClientLock();

    // Whether someone (another process, or another lease of this one) holds the lease now. It
    // takes the lock for an instant to find out, so a lease asked for in that instant is
    // refused: for reports only, never before a change. False when there is no lock file.
    static bool isHeld(const Path& storage);

private:
    sys::Fd m_descriptor;
};

// A lock on a folder that is being deleted, held on the folder's own descriptor: a sweep or
// background deletion of another process leaves that folder alone instead of taking its
// entries away under the first one, and a status does not call it left over.
class DeletionLock {
public:
    // Tries to lock the folder without waiting. Nothing that can be locked there (gone, a file,
    // a link) is no obstacle: only a lock held by someone else is.
    explicit DeletionLock(const Path& folder);
    // Someone else holds the lock: they are deleting the folder now.
    bool heldElsewhere() const { return m_heldElsewhere; }
    // The same answer without keeping the lock (it is taken for an instant).
    static bool isHeld(const Path& folder) { return DeletionLock(folder).heldElsewhere(); }

private:
    sys::Fd m_descriptor;
    bool m_heldElsewhere = false;
};

} // namespace olvex
