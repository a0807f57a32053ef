#include "packs/Staging.h"

#include <cstdlib>
#include <string>

#include "base/Errors.h"
#include "base/Uuid.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

constexpr std::string_view kPrefix = "Olvex-";

} // namespace

Path systemTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && *tmp != '\0') ? Path(tmp) : Path("/tmp");
}

Path resolvedTemporaryFolder(const Path& temporary) {
    std::string resolved;
    if (!sys::realpath(temporary.c_str(), resolved)) {
        throw ManagerError("无法定位临时目录");
    }
    return Path(resolved);
}

Path newStagingFolder(const Path& resolvedTemporary) {
    return resolvedTemporary / (std::string(kPrefix) + Uuid::random().text());
}

bool isStagingName(std::string_view name) {
    return name.size() > kPrefix.size() && name.starts_with(kPrefix) && Uuid::isValid(name.substr(kPrefix.size()));
}

void removeStagingFolder(const Path& staging, const std::function<void()>& release) {
    const Path lease = stagingLease(staging);
    for (const auto& entry : FileSafety::list(staging)) {
        if (staging / entry.name != lease) {
            FileSafety::remove(staging / entry.name);
        }
    }
    release();
    FileSafety::remove(staging);
}

} // namespace olvex
