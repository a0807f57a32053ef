#include "fs/VolumeFlush.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "base/Errors.h"
#include "fs/PathCheck.h"

namespace olvex::FileSafety {

using detail::absoluteText;

namespace {

thread_local VolumeFlush* t_current = nullptr;

sys::Fd openFolder(const std::string& path) {
    sys::Fd folder(sys::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!folder.valid()) {
        throw SystemError(SystemOperation::flush, path, errno);
    }
    return folder;
}

} // namespace

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

VolumeFlush::VolumeFlush(const Path& folder) : m_path(absoluteText(folder)), m_outer(t_current) {
    m_whole = m_outer != nullptr ? m_outer->m_whole : wholeVolumeFlush(folder);
    if (m_whole) {
        m_descriptor = openFolder(m_path);
    }
    t_current = this;
}

VolumeFlush::~VolumeFlush() {
    close();
}

void VolumeFlush::close() noexcept {
    if (!m_open) {
        return;
    }
    m_open = false;
    // Flushes end in the order they were opened; one that ends early (flushed) leaves the
    // thread's innermost one in place.
    if (t_current == this) {
        t_current = m_outer;
    } else {
        for (VolumeFlush* inner = t_current; inner != nullptr; inner = inner->m_outer) {
            if (inner->m_outer == this) {
                inner->m_outer = m_outer;
                break;
            }
        }
    }
}

VolumeFlush* VolumeFlush::current() {
    return t_current;
}

VolumeFlush::OnThread::OnThread(VolumeFlush* flush) : m_saved(t_current) {
    t_current = flush;
}

VolumeFlush::OnThread::~OnThread() {
    t_current = m_saved;
}

void VolumeFlush::noteFolder(const std::string& path) {
    std::lock_guard guard(m_foldersLock);
    if (!m_whole && std::find(m_folders.begin(), m_folders.end(), path) == m_folders.end()) {
        m_folders.push_back(path);
    }
}

void VolumeFlush::flush() {
    close();
    if (m_whole) {
        if (sys::syncfs(m_descriptor.get()) != 0) {
            throw SystemError(SystemOperation::flush, m_path, errno);
        }
        return;
    }
    for (const std::string& path : m_folders) {
        // A folder gone since (removed, or renamed away with its parent noted) has nothing
        // left to flush here.
        sys::Fd folder(sys::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        if (!folder.valid()) {
            if (errno == ENOENT) {
                continue;
            }
            throw SystemError(SystemOperation::flush, path, errno);
        }
        if (sys::fsync(folder.get()) != 0) {
            throw SystemError(SystemOperation::flush, path, errno);
        }
    }
    m_folders.clear();
}

namespace detail {

FolderFlush folderFlush() {
    const VolumeFlush* open = VolumeFlush::current();
    return open == nullptr ? FolderFlush::now : open->wholeVolume() ? FolderFlush::none : FolderFlush::noted;
}

void folderChanged(const std::string& path, bool flushNow) {
    switch (folderFlush()) {
    case FolderFlush::none:
        return;
    case FolderFlush::noted:
        VolumeFlush::current()->noteFolder(path);
        return;
    case FolderFlush::now:
        if (flushNow) {
            syncDirectory(path);
        }
        return;
    }
}

} // namespace detail

} // namespace olvex::FileSafety
