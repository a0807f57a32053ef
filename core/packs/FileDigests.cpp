#include "packs/FileDigests.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>

#include "base/Errors.h"
#include "base/Sha256.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

constexpr size_t kChunk = 1 << 20;

constexpr const char* kNotDirectory = "迁移包缺少 payload 目录。";
constexpr const char* kTooManyEntries = "迁移包超过 50000 个条目限制。";
constexpr const char* kTooLarge = "迁移包超过 2 GiB 限制。";

class DigestWalk {
public:
    explicit DigestWalk(const OperationControl* control) : m_control(control), m_buffer(new unsigned char[kChunk]) {}

    void walk(const sys::Fd& folder, const std::string& path, const std::string& prefix) {
        for (const auto& entry : FileSafety::entriesAt(folder.get(), path)) {
            checkCancellation();
            if (++m_entries > kDigestEntryLimit) {
                throw ManagerError(kTooManyEntries);
            }
            std::string relative = prefix + entry.name;
            const std::string child = path + "/" + entry.name;
            if (entry.type == DT_DIR) {
                relative += '/';
                m_digests.emplace(relative, "directory");
                walk(FileSafety::openFolderAt(folder.get(), entry.name, child, SystemOperation::list), child, relative);
            } else if (entry.type == DT_REG || entry.type == DT_UNKNOWN) {
                m_digests.emplace(std::move(relative), digestFile(folder.get(), entry.name, child));
            } else {
                throw ManagerError(linkOrSpecialFile(child));
            }
        }
    }

    DigestMap take() { return std::move(m_digests); }

private:
    void checkCancellation() const {
        if (m_control) {
            m_control->check();
        }
    }

    std::string digestFile(int folder, const std::string& name, const std::string& path) {
        FileSafety::OpenedFile file;
        if (!FileSafety::openRegularFile(folder, name, path, file, SystemOperation::open, SystemOperation::examine)) {
            throw SystemError(SystemOperation::open, path, ENOENT);
        }
        const int fd = file.descriptor.get();
        m_sha.begin();
        for (;;) {
            ssize_t n = sys::readSome(fd, m_buffer.get(), kChunk);
            if (n < 0) {
                throw SystemError(SystemOperation::read, path, errno);
            }
            if (n == 0) {
                break;
            }
            checkCancellation();
            m_bytes += n;
            if (m_bytes > kDigestByteLimit) {
                throw ManagerError(kTooLarge);
            }
            m_sha.update(m_buffer.get(), static_cast<size_t>(n));
            if (m_control) {
                m_control->addProgress(n);
            }
        }
        return m_sha.hex();
    }

    const OperationControl* m_control;
    std::unique_ptr<unsigned char[]> m_buffer;
    Sha256 m_sha;
    DigestMap m_digests;
    long m_entries = 0;
    std::int64_t m_bytes = 0;
};

} // namespace

// The walk checks each entry where it reads it (the listing's type, then the opened file or
// folder itself, reached relative to its opened parent) instead of a separate tree check
// first: the same links and special files are refused, an entry swapped after the listing can
// no longer lead the walk out of the tree, and the tree is listed once instead of twice with
// one lstat per entry less, which is most of the cost on trees of many small files. Only the
// folder's own path is checked up front.
DigestMap fileDigests(const Path& folder, const OperationControl* control) {
    FileSafety::checkPath(folder);
    if (!FileSafety::isDirectory(folder)) {
        throw ManagerError(kNotDirectory);
    }
    std::string root = folder.native();
    if (root.empty() || root.front() != '/') {
        root = (std::filesystem::current_path() / folder).native();
    }
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    DigestWalk walk(control);
    walk.walk(FileSafety::openRoot(root, SystemOperation::list), root, "");
    return walk.take();
}

} // namespace olvex
