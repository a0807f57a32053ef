#include "fs/SharedCopy.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "base/Sha256.h"
#include "fs/FileSafety.h"
#include "fs/FolderQueue.h"
#include "fs/Sys.h"

namespace olvex::FileSafety {

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr mode_t kReadOnly = 0400;

// Refusals that mean "no hard links here", answered by copying: another volume, a file system
// without them (FAT and exFAT say EPERM, many FUSE mounts EPERM or ENOTSUP), a file at its link
// limit. Any other failure (no space, a read-only volume, I/O) is the copy's own.
bool linkRefused(int error) {
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    if (error == ENOTSUP) {
        return true;
    }
#endif
    return error == EXDEV || error == EPERM || error == EMLINK || error == EOPNOTSUPP || error == ENOSYS;
}

// A listed entry's type, examined only where the listing has none; links and special files are
// refused, as every walk of the file layer refuses them.
bool isFolder(int folder, const sys::DirEntry& entry, const std::string& path) {
    if (entry.type == DT_DIR || entry.type == DT_REG) {
        return entry.type == DT_DIR;
    }
    struct ::stat st {};
    if (entry.type == DT_UNKNOWN) {
        if (sys::fstatat(folder, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            throw SystemError(SystemOperation::examine, path, errno);
        }
        if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) {
            return S_ISDIR(st.st_mode);
        }
    }
    throw ManagerError(linkOrSpecialFile(path));
}

// One folder of a sharing walk, relative to the roots ("" for the roots themselves): to share
// with the same folder of the earlier copy; to copy whole where the earlier copy has none; or,
// copied, to record what it holds.
struct Folder {
    enum class Work { share, copy, record };
    std::string relative;
    Work work = Work::share;
};

// What the threads of one walk share: the roots, the earlier copy's entries, whether the volume
// still links, and the folders still to walk.
struct WalkPlan {
    const std::string from;
    const std::string to;
    const std::string earlierRoot;
    const StoredEntries& earlier;
    const std::int64_t settledBefore;
    const FileStamps& examined;
    const OperationControl* const control;
    FolderQueue<Folder> folders;
    std::atomic<bool> linking{true};
};

std::string below(const std::string& root, const std::string& relative) {
    return relative.empty() ? root : root + "/" + relative;
}

// One thread's part of a walk: what it decided and recorded, merged with the others' at the end.
class SharingWalk {
public:
    explicit SharingWalk(WalkPlan& plan) : m_plan(plan), m_buffer(new unsigned char[kChunk]) {}

    void walk(const Folder& folder) {
        const std::string from = below(m_plan.from, folder.relative);
        const std::string to = below(m_plan.to, folder.relative);
        const std::string prefix = folder.relative.empty() ? "" : folder.relative + "/";
        if (folder.work == Folder::Work::copy) {
            // The source times are the ones sizing took before the copy read anything.
            copyTree(from, to, m_plan.control, Flush::deferred);
        }
        if (folder.work != Folder::Work::share) {
            record(to, prefix);
            return;
        }
        const sys::Fd source = openRoot(from, SystemOperation::list);
        const sys::Fd destination = openRoot(to, SystemOperation::createDirectory);
        sys::Fd earlier;
        try {
            earlier = openRoot(below(m_plan.earlierRoot, folder.relative), SystemOperation::list);
        } catch (const std::exception&) {
            // Gone or changed in the earlier copy: nothing there to share.
        }
        for (const auto& entry : entriesAt(source.get(), from)) {
            check();
            const std::string child = from + "/" + entry.name;
            const std::string copy = to + "/" + entry.name;
            const std::string relative = prefix + entry.name;
            if (!isFolder(source.get(), entry, child)) {
                shareFile(source.get(), child, destination.get(), copy, earlier.get(), entry.name, relative);
                continue;
            }
            m_entries[relative + "/"] = {kFolderDigest, 0, std::nullopt, 0};
            if (!earlier.valid() || !m_plan.linking || m_plan.earlier.count(relative + "/") == 0) {
                m_plan.folders.push({relative, Folder::Work::copy});
                continue;
            }
            if (sys::mkdirat(destination.get(), entry.name.c_str(), 0700) != 0) {
                throw SystemError(SystemOperation::createDirectory, copy, errno);
            }
            m_changed.push_back(to);
            m_changed.push_back(copy);
            m_plan.folders.push({relative, Folder::Work::share});
        }
    }

    StoredEntries& entries() { return m_entries; }
    // The folders made outside copyTree (which notes its own), which gain the links: each
    // listed with its parent.
    std::vector<std::string>& changedFolders() { return m_changed; }

private:
    // Makes every file of a copied folder read-only and records what it holds; its folders are
    // left for whichever thread is free.
    void record(const std::string& path, const std::string& prefix) {
        const sys::Fd folder = openRoot(path, SystemOperation::list);
        for (const auto& entry : entriesAt(folder.get(), path)) {
            check();
            const std::string child = path + "/" + entry.name;
            const std::string name = prefix + entry.name;
            if (isFolder(folder.get(), entry, child)) {
                m_entries[name + "/"] = {kFolderDigest, 0, std::nullopt, 0};
                m_plan.folders.push({name, Folder::Work::record});
                continue;
            }
            // A file sizing did not see (made since) has no time examined before its copy.
            auto stamp = m_plan.examined.find(name);
            recordFile(folder.get(), entry.name, child, name,
                       stamp == m_plan.examined.end() ? std::nullopt : std::optional(stamp->second.modified));
        }
    }

    void recordFile(int folder, const std::string& name, const std::string& path, const std::string& relative,
                    std::optional<std::int64_t> sourceTime) {
        OpenedFile written;
        if (!openRegularFile(folder, name, path, written, SystemOperation::open, SystemOperation::examine)) {
            throw SystemError(SystemOperation::open, path, ENOENT);
        }
        if (sys::fchmod(written.descriptor.get(), kReadOnly) != 0) {
            throw SystemError(SystemOperation::write, path, errno);
        }
        m_entries[relative] = {digest(written.descriptor.get(), path), written.status.st_size, settled(sourceTime),
                               modifiedNanoseconds(written.status)};
    }

    // A source time proves nothing when a write just after the examination could have left it
    // as it was: one that is not older than the copy's own folder.
    std::optional<std::int64_t> settled(std::optional<std::int64_t> sourceTime) const {
        return sourceTime && *sourceTime < m_plan.settledBefore ? sourceTime : std::nullopt;
    }

    // `earlier`: the same folder of the earlier copy, or -1 where it has none.
    void shareFile(int sourceFolder, const std::string& from, int destination, const std::string& to, int earlier,
                   const std::string& name, const std::string& relative) {
        const FileStamp source = examined(sourceFolder, name, from, relative);
        const std::int64_t sourceTime = source.modified;
        auto candidate = m_plan.earlier.find(relative);
        if (earlier >= 0 && m_plan.linking && candidate != m_plan.earlier.end() &&
            candidate->second.sha256 != kFolderDigest && candidate->second.size == source.size &&
            (candidate->second.sourceTime == sourceTime ||
             sourceDigest(sourceFolder, name, from) == candidate->second.sha256) &&
            storedUnchanged(earlier, name, candidate->second)) {
            if (sys::linkat(earlier, name.c_str(), destination, name.c_str(), 0) == 0) {
                m_entries[relative] = {candidate->second.sha256, candidate->second.size, settled(sourceTime),
                                       candidate->second.storedTime};
                if (m_plan.control) {
                    m_plan.control->addProgress(source.size);
                }
                return;
            }
            if (!linkRefused(errno)) {
                throw SystemError(SystemOperation::create, to, errno);
            }
            // A file at its link limit is that one file; any other refusal is the volume's.
            if (errno != EMLINK) {
                m_plan.linking = false;
            }
        }
        copyTree(from, to, m_plan.control, Flush::deferred);
        recordFile(destination, name, to, relative, sourceTime);
    }

    // A source file's length and time: as the caller's sizing found them when it kept them
    // (examined before anything is copied, as a source time must be), else examined now.
    FileStamp examined(int folder, const std::string& name, const std::string& path, const std::string& relative) {
        if (auto stamp = m_plan.examined.find(relative); stamp != m_plan.examined.end()) {
            return stamp->second;
        }
        struct ::stat st {};
        if (sys::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            throw SystemError(SystemOperation::examine, path, errno);
        }
        if (!S_ISREG(st.st_mode)) {
            throw ManagerError(linkOrSpecialFile(path));
        }
        return {static_cast<std::int64_t>(st.st_size), modifiedNanoseconds(st)};
    }

    bool storedUnchanged(int earlier, const std::string& name, const StoredEntry& entry) const {
        struct ::stat st {};
        return sys::fstatat(earlier, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
               st.st_size == entry.size && modifiedNanoseconds(st) == entry.storedTime;
    }

    // The SHA-256 of a source file whose time changed while its length did not (a file written
    // again with the same bytes, a restored folder); a file that cannot be read is copied, and
    // the copy reports what is wrong with it.
    std::string sourceDigest(int folder, const std::string& name, const std::string& path) {
        OpenedFile file;
        try {
            if (!openRegularFile(folder, name, path, file, SystemOperation::open, SystemOperation::examine)) {
                return {};
            }
        } catch (const std::exception&) {
            return {};
        }
        return digest(file.descriptor.get(), path);
    }

    std::string digest(int descriptor, const std::string& path) {
        m_sha.begin();
        for (;;) {
            ssize_t n = sys::readSome(descriptor, m_buffer.get(), kChunk);
            if (n < 0) {
                throw SystemError(SystemOperation::read, path, errno);
            }
            if (n == 0) {
                return m_sha.hex();
            }
            m_sha.update(m_buffer.get(), static_cast<size_t>(n));
            check();
        }
    }

    void check() const {
        if (m_plan.folders.failed()) {
            throw WalkAbandoned{};
        }
        if (m_plan.control) {
            m_plan.control->check();
        }
    }

    WalkPlan& m_plan;
    std::unique_ptr<unsigned char[]> m_buffer;
    Sha256 m_sha;
    StoredEntries m_entries;
    std::vector<std::string> m_changed;
};

bool unchangedBelow(const sys::Fd& folder, const std::string& path, const std::string& prefix,
                    const StoredEntries& entries, size_t& seen) {
    for (const auto& entry : entriesAt(folder.get(), path)) {
        const std::string child = path + "/" + entry.name;
        const std::string relative = prefix + entry.name;
        if (isFolder(folder.get(), entry, child)) {
            auto it = entries.find(relative + "/");
            if (it == entries.end() ||
                !unchangedBelow(openFolderAt(folder.get(), entry.name, child, SystemOperation::list), child,
                                relative + "/", entries, seen)) {
                return false;
            }
            ++seen;
            continue;
        }
        struct ::stat st {};
        if (sys::fstatat(folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            throw SystemError(SystemOperation::examine, child, errno);
        }
        auto it = entries.find(relative);
        if (it == entries.end() || it->second.sha256 == kFolderDigest || it->second.size != st.st_size ||
            it->second.storedTime != modifiedNanoseconds(st)) {
            return false;
        }
        ++seen;
    }
    return true;
}

void inodes(const sys::Fd& folder, const std::string& path, std::vector<StoredInode>& out) {
    for (const auto& entry : entriesAt(folder.get(), path)) {
        const std::string child = path + "/" + entry.name;
        if (isFolder(folder.get(), entry, child)) {
            inodes(openFolderAt(folder.get(), entry.name, child, SystemOperation::list), child, out);
            continue;
        }
        struct ::stat st {};
        if (sys::fstatat(folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            throw SystemError(SystemOperation::examine, child, errno);
        }
        out.push_back({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       static_cast<std::uint64_t>(st.st_nlink), static_cast<std::int64_t>(st.st_size)});
    }
}

} // namespace

StoredEntries copySharing(const Path& source, const Path& destination, const std::optional<LinkSource>& earlier,
                          const FileStamps& examined, const OperationControl* control) {
    const std::string from = detail::absoluteText(source);
    const std::string to = detail::absoluteText(destination);
    if (control) {
        control->check();
    }
    checkPath(from);
    checkPath(to);
    const sys::Fd sourceFolder = openRoot(from, SystemOperation::list);
    if (sys::mkdir(to.c_str(), 0700) != 0) {
        throw SystemError(SystemOperation::createDirectory, to, errno);
    }
    const sys::Fd destinationFolder = openRoot(to, SystemOperation::createDirectory);
    // The new folder's time is the volume's clock at the start: a source time older than it
    // cannot stay as it is through a later write.
    struct ::stat made {};
    if (sys::fstat(destinationFolder.get(), &made) != 0) {
        throw SystemError(SystemOperation::examine, to, errno);
    }
    sys::Fd earlierFolder;
    if (earlier && earlier->entries) {
        try {
            checkPath(earlier->folder);
            earlierFolder = openRoot(detail::absoluteText(earlier->folder), SystemOperation::list);
        } catch (const std::exception&) {
            // An earlier copy that cannot be opened is one there is nothing to share with.
        }
    }
    const StoredEntries none;
    std::string earlierRoot;
    if (earlierFolder.valid()) {
        earlierRoot = detail::absoluteText(earlier->folder);
        earlierFolder.reset();
    }
    WalkPlan plan{from,
                  to,
                  earlierRoot,
                  earlierRoot.empty() ? none : *earlier->entries,
                  modifiedNanoseconds(made),
                  examined,
                  control,
                  FolderQueue<Folder>({"", earlierRoot.empty() ? Folder::Work::copy : Folder::Work::share})};
    auto walks = walkParts<SharingWalk>([&] { return std::make_unique<SharingWalk>(plan); });
    plan.folders.run(walks);
    StoredEntries entries;
    // Every new name (a folder made here, a link) is durable with its folder: flushed now outside
    // an operation's flush, noted for it in per-file mode, covered by its syncfs otherwise.
    std::vector<std::string> changed{Path(to).parent_path().native()};
    for (auto& walk : walks) {
        entries.merge(walk->entries());
        changed.insert(changed.end(), walk->changedFolders().begin(), walk->changedFolders().end());
    }
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    for (const std::string& folder : changed) {
        detail::folderChanged(folder, true);
    }
    return entries;
}

void writeNewFile(const Path& file, const std::string& data) {
    const std::string path = detail::absoluteText(file);
    checkPath(path);
    sys::Fd out(sys::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!out.valid()) {
        throw SystemError(SystemOperation::create, path, errno);
    }
    if (sys::writeAll(out.get(), data.data(), data.size()) != 0) {
        throw SystemError(SystemOperation::write, path, errno);
    }
    if (detail::folderFlush() != detail::FolderFlush::none && sys::fsync(out.get()) != 0) {
        throw SystemError(SystemOperation::flush, path, errno);
    }
    detail::folderChanged(Path(path).parent_path().native(), true);
}

bool unchangedSince(const Path& folder, const StoredEntries& entries) {
    const std::string path = detail::absoluteText(folder);
    checkPath(path);
    size_t seen = 0;
    return unchangedBelow(openRoot(path, SystemOperation::list), path, "", entries, seen) && seen == entries.size();
}

std::vector<StoredInode> inodesBelow(const Path& folder) {
    const std::string path = detail::absoluteText(folder);
    checkPath(path);
    std::vector<StoredInode> out;
    if (isDirectory(path)) {
        inodes(openRoot(path, SystemOperation::list), path, out);
    }
    return out;
}

} // namespace olvex::FileSafety
