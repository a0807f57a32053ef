#pragma once

// The one routine that reads the contents of a pack archive. It unpacks a ZIP file into an
// existing, empty staging folder and refuses everything that could write outside that folder,
// write through a link, or turn it into anything but a plain tree of directories and regular
// files. It has a plain C interface (no objects, no exceptions) and keeps no state between
// calls.

#include <stddef.h>

#ifdef __cplusplus
#include <cstdint>
struct archive_entry;
extern "C" {
#endif

// Answers whether the extraction must stop; non-zero means "cancelled". Called on the
// caller's thread before every entry and after every chunk of data read.
typedef int (*olvex_cancel_query)(void* context);

// Extracts the ZIP file at `archive_path` into the existing, empty folder `destination_path`
// (both NUL-terminated UTF-8 file-system paths). Returns 0 on success. On failure returns -1
// and copies one finished Simplified Chinese message (or libarchive's own error text) into
// `message`, cut to `message_size` - 1 bytes and NUL-terminated; on success `message` is not
// touched. `is_cancelled` may be null; `context` is handed to it unchanged.
//
// Limits: at most 50,000 entries, 2,147,483,648 unpacked bytes (declared and actually
// written), paths of 2,048 bytes and components of 255 bytes. Whatever it created before a
// failure stays (files closed); the caller removes the staging folder. On success the whole
// tree is on stable storage: the volume is flushed once at the end ("文件同步失败" if that fails).
int olvex_extract_zip_cancellable(const char* archive_path, const char* destination_path, char* message,
                                  size_t message_size, olvex_cancel_query is_cancelled, void* context);

#ifdef __cplusplus
} // extern "C"

namespace olvex::archive {

// The entry and size budgets of one extraction. The public function uses the defaults; tests
// and the fuzzer pass smaller ones to reach the limits with small archives.
struct ExtractLimits {
    uint64_t maxEntries = 50000;
    uint64_t maxTotalBytes = 2147483648ULL; // 2 GiB
};

// Told after every chunk how far the reading has come: the bytes of the archive file consumed
// so far and the file's size. Both count compressed bytes, so the pair is a share of the work
// done, readable before a single entry is unpacked.
struct ExtractProgress {
    void (*report)(void* context, uint64_t done, uint64_t total) = nullptr;
    void* context = nullptr;
};

// olvex_extract_zip_cancellable with the given budgets and an optional progress report; same
// contract otherwise.
int extractZip(const char* archivePath, const char* destinationPath, char* message, size_t messageSize,
               olvex_cancel_query isCancelled, void* context, const ExtractLimits& limits,
               ExtractProgress progress = {}) noexcept;

// True when an entry may not be extracted whatever the destination holds: the entry budget is
// spent (`entriesSoFar` counts the entries already extracted), the name (the one the rules
// see; null when there is none) is empty, longer than 2,048 bytes, absolute, or holds a
// backslash or a colon, or the entry is a link, encrypted, or neither a directory nor a
// regular file. Separate so that tests reach the hard-link rule, which libarchive's ZIP reader
// never triggers.
bool breaksEntryRules(archive_entry* entry, const char* name, uint64_t entriesSoFar,
                      const ExtractLimits& limits) noexcept;

} // namespace olvex::archive
#endif
