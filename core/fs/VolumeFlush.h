#pragma once

// Flushes: one folder's entries, or what an operation wrote, at once (see FileSafety.h).

#include <mutex>
#include <string>
#include <vector>

#include "base/Path.h"
#include "fs/Sys.h"

namespace olvex {

namespace FileSafety {

// How a copy flushes what it writes: each file and folder itself, or as the VolumeFlush open on
// this thread decided for its operation (see FileSafety.h).
enum class Flush { eachFile, deferred };

// Flushes a folder's entries (after renames or creations in it) to stable storage.
void syncDirectory(const Path& url);
// True when one syncfs of the volume holding the folder makes every earlier write on it
// durable; false where only per-file flushes do (see the note at the top), also when the
// volume cannot be examined.
bool wholeVolumeFlush(const Path& folder);

// What one operation writes, made durable at one point: the flush decision is taken once, at
// construction, and every copy and folder change of the file layer on this thread follows it
// until flush():
//   - whole volume (syncfs): files and folders are written without flushes of their own, and
//     flush() is one syncfs. The descriptor is opened at construction, before the writes it is
//     to cover, because syncfs reports a write-back failure only to descriptors that were open
//     when it happened: one opened just before the flush would miss a failure that another
//     process's sync had already collected.
//   - per file (FUSE, not Linux, a volume that cannot be examined): each file is flushed as it
//     is written, and each folder the file layer creates or changes meanwhile (new folders,
//     their parents, folders that lost or gained an entry) is noted and flushed by flush().
// Opened inside another, it follows the outer one's decision: one operation, one decision.
class VolumeFlush {
public:
    explicit VolumeFlush(const Path& folder);
    ~VolumeFlush();
    VolumeFlush(const VolumeFlush&) = delete;
    VolumeFlush& operator=(const VolumeFlush&) = delete;

    bool wholeVolume() const { return m_whole; }
    // Fails with SystemError(flush) when a write since construction did not reach the disk.
    // What the file layer changes afterwards is no longer covered: it flushes by itself again.
    void flush();

    // The innermost flush still open on this thread, or nullptr.
    static VolumeFlush* current();
    // Notes a folder whose entries changed, for flush() to make durable (per file only). Safe
    // from the operation's worker threads (see OnThread).
    void noteFolder(const std::string& path);

    // Makes `flush` (may be null) the innermost flush of the calling thread while it lives: a
    // worker thread of an operation then writes and notes its folders under the operation's
    // decision, as the operation's own thread does. Ends before `flush` does.
    class OnThread {
    public:
        explicit OnThread(VolumeFlush* flush);
        ~OnThread();
        OnThread(const OnThread&) = delete;
        OnThread& operator=(const OnThread&) = delete;

    private:
        VolumeFlush* m_saved;
    };

private:
    void close() noexcept;

    std::string m_path;
    sys::Fd m_descriptor;
    bool m_whole = false;
    bool m_open = true;
    VolumeFlush* m_outer = nullptr;
    std::mutex m_foldersLock;
    std::vector<std::string> m_folders;
};

namespace detail {
// How the file layer makes a folder change durable right now: `none` while a whole-volume flush
// is open (its syncfs covers it), `noted` while a per-file one is (its flush covers it), `now`
// with none open.
enum class FolderFlush { none, noted, now };
FolderFlush folderFlush();
// Makes a changed folder durable as folderFlush() says; `now` only when `flushNow` is set
// (callers that flush what they need themselves pass false).
void folderChanged(const std::string& path, bool flushNow);
} // namespace detail

} // namespace FileSafety
} // namespace olvex
