#include "fs/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "base/Errors.h"
#include "base/Uuid.h"
#include "fs/PathCheck.h"
#include "fs/VolumeFlush.h"

namespace olvex::FileSafety {

using detail::absoluteText;

std::optional<std::string> readBounded(const Path& url, std::int64_t limit, const std::string& tooLarge) {
    checkPath(url);
    const std::string path = absoluteText(url);
    OpenedFile file;
    if (!openRegularFile(path, file, SystemOperation::read, SystemOperation::read)) {
        return std::nullopt;
    }
    if (file.status.st_size > limit) {
        throw ManagerError(tooLarge);
    }
    std::string data;
    data.reserve(static_cast<size_t>(file.status.st_size));
    // One byte past the limit tells a file that grew since it was examined.
    if (sys::readUpTo(file.descriptor.get(), static_cast<size_t>(limit) + 1, data) != 0) {
        throw SystemError(SystemOperation::read, path, errno);
    }
    if (static_cast<std::int64_t>(data.size()) > limit) {
        throw ManagerError(tooLarge);
    }
    return data;
}

std::string readFile(const Path& url, std::int64_t limit, const std::string& tooLarge) {
    std::optional<std::string> data = readBounded(url, limit, tooLarge);
    if (!data) {
        throw SystemError(SystemOperation::read, absoluteText(url), ENOENT);
    }
    return std::move(*data);
}

void writeFileAtomically(const Path& url, const std::string& data) {
    checkPath(url);
    std::string path = absoluteText(url);
    Path folder = Path(path).parent_path();
    std::string temporary = (folder / (".olvex-tmp-" + Uuid::random().text())).native();
    sys::Fd file(sys::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!file.valid()) {
        throw SystemError(SystemOperation::create, temporary, errno);
    }
    auto fail = [&](SystemOperation operation, const std::string& where) {
        int error = errno;
        file.reset();
        // Through the seam like every other call, so the fault model sees the clean-up too.
        (void)sys::unlink(temporary.c_str());
        throw SystemError(operation, where, error);
    };
    if (sys::writeAll(file.get(), data.data(), data.size()) != 0) {
        fail(SystemOperation::write, path);
    }
    if (sys::fsync(file.get()) != 0) {
        fail(SystemOperation::flush, path);
    }
    file.reset();
    if (sys::rename(temporary.c_str(), path.c_str()) != 0) {
        int error = errno;
        (void)sys::unlink(temporary.c_str());
        throw SystemError(SystemOperation::move, path, error);
    }
    syncDirectory(folder);
}

} // namespace olvex::FileSafety
