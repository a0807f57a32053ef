#include "fs/VolumeFlush.h"

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
