#include "archive/ExtractZip.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <utility>
#include <vector>
#ifdef __APPLE__
#include <xlocale.h>
#endif

#include "base/Errors.h"
#include "base/Text.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex::archive {

namespace {

constexpr size_t kBlockSize = 65'536;
constexpr size_t kChunkSize = 65'536;
constexpr size_t kMaxPathBytes = 2'048;
constexpr size_t kMaxComponentBytes = 255;

constexpr const char* kReadFailed = "ZIP 读取失败";
constexpr const char* kDestinationFailed = "无法打开隔离目录";
constexpr const char* kEmpty = "ZIP 为空";
constexpr const char* kCancelled = "操作已取消";
constexpr const char* kUnsafeEntry = "ZIP 包含不安全的路径、链接、加密文件或过多文件";
constexpr const char* kDeclaredTooLarge = "ZIP 解压总大小超过 2 GiB 限制";
constexpr const char* kBadComponent = "ZIP 包含非法路径分量";
constexpr const char* kCreateDirectoryFailed = "无法创建解压目录";
constexpr const char* kDirectoryConflict = "ZIP 目录冲突或链接";
constexpr const char* kNameTaken = "ZIP 存在重名文件或目录冲突";
constexpr const char* kWrittenTooLarge = "ZIP 实际解压大小超过限制";
constexpr const char* kWriteFailed = "写入失败，请检查磁盘空间";
constexpr const char* kSyncFailed = "文件同步失败";

// libarchive converts entry names to the character set of the current LC_CTYPE: in the "C"
// locale a UTF-8 name comes back as a warning and a Unicode-path name as no name at all. So
// the extraction runs with a UTF-8 LC_CTYPE, set for this thread only (never setlocale, which
// would change every thread of the process) and put back on every way out.
class ThreadUtf8Locale {
public:
    ThreadUtf8Locale() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8"}) {
            m_utf8 = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (m_utf8 != static_cast<locale_t>(nullptr)) {
                m_previous = ::uselocale(m_utf8);
                return;
            }
        }
        // No UTF-8 locale on this system: names that are not ASCII then fail as libarchive
        // reports them, which is no less safe.
    }
    ~ThreadUtf8Locale() {
        if (m_utf8 != static_cast<locale_t>(nullptr)) {
            ::uselocale(m_previous);
            ::freelocale(m_utf8);
        }
    }
    ThreadUtf8Locale(const ThreadUtf8Locale&) = delete;
    ThreadUtf8Locale& operator=(const ThreadUtf8Locale&) = delete;

private:
    locale_t m_utf8 = static_cast<locale_t>(nullptr);
    locale_t m_previous = static_cast<locale_t>(nullptr);
};

struct ArchiveFree {
    void operator()(struct archive* handle) const noexcept { archive_read_free(handle); }
};
using ArchiveHandle = std::unique_ptr<struct archive, ArchiveFree>;

struct ConverterClose {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};

// ZIP files made on Chinese Windows store names in GBK without the UTF-8 flag. GB18030 is a
// superset of GBK that maps every valid sequence, so a name that decodes without error is
// taken as Chinese. Invalid or truncated sequences make the decoding fail.
bool decodeGb18030(std::string_view bytes, std::string& out) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterClose> converter(ucnv_open("GB18030", &status));
    if (U_FAILURE(status)) {
        return false;
    }
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        return false;
    }
    // One byte never becomes more than one UTF-16 unit (four bytes at most make a pair).
    std::vector<UChar> units(bytes.size() + 1);
    UChar* target = units.data();
    const char* source = bytes.data();
    ucnv_toUnicode(converter.get(), &target, units.data() + units.size(), &source, bytes.data() + bytes.size(), nullptr,
                   true, &status);
    if (U_FAILURE(status)) {
        return false;
    }
    out.clear();
    icu::UnicodeString(units.data(), static_cast<int32_t>(target - units.data())).toUTF8String(out);
    return true;
}

// The name the entry rules see: libarchive's UTF-8 name; otherwise the raw bytes, decoded
// from GB18030 when they are not UTF-8 and that decoding succeeds. False when there is none.
bool entryName(archive_entry* entry, std::string& out) {
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) {
        out.assign(utf8);
        return true;
    }
    const char* raw = archive_entry_pathname(entry);
    if (raw == nullptr) {
        return false;
    }
    std::string_view bytes(raw);
    if (!text::isValidUtf8(bytes) && decodeGb18030(bytes, out)) {
        return true;
    }
    out.assign(bytes);
    return true;
}

bool isBadComponent(std::string_view component) {
    if (component == "." || component == ".." || component.size() > kMaxComponentBytes) {
        return true;
    }
    for (char c : component) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

// The archive as libarchive reads it: a descriptor the routine opened itself, never through a
// link and never waiting for a writer. Only a regular file gets this far, so no read can
// wait for ever: a FIFO or device named as the ZIP would otherwise hold the open, or a read,
// for as long as nothing writes to it, deaf to a cancel (which is asked between entries and
// chunks only).
struct Source {
    int fd = -1;
    std::int64_t size = 0;
    int readError = 0;
    std::vector<char> block = std::vector<char>(kBlockSize);
};

la_ssize_t readBlock(struct archive* handle, void* data, const void** buffer) {
    auto* source = static_cast<Source*>(data);
    ssize_t n = sys::readSome(source->fd, source->block.data(), source->block.size());
    if (n < 0) {
        source->readError = errno;
        archive_set_error(handle, errno, "read failed");
        return ARCHIVE_FATAL;
    }
    *buffer = source->block.data();
    return n;
}

la_int64_t seekTo(struct archive* handle, void* data, la_int64_t offset, int whence) {
    auto* source = static_cast<Source*>(data);
    off_t position = sys::lseek(source->fd, static_cast<off_t>(offset), whence);
    if (position < 0) {
        source->readError = errno;
        archive_set_error(handle, errno, "seek failed");
        return ARCHIVE_FATAL;
    }
    return position;
}

// Skips at most to the end of the file, as libarchive expects of a skip.
la_int64_t skipOver(struct archive* handle, void* data, la_int64_t request) {
    auto* source = static_cast<Source*>(data);
    off_t here = sys::lseek(source->fd, 0, SEEK_CUR);
    if (here < 0) {
        source->readError = errno;
        archive_set_error(handle, errno, "seek failed");
        return ARCHIVE_FATAL;
    }
    la_int64_t step = std::min<la_int64_t>(request, std::max<la_int64_t>(0, source->size - here));
    if (step > 0 && sys::lseek(source->fd, static_cast<off_t>(step), SEEK_CUR) < 0) {
        source->readError = errno;
        archive_set_error(handle, errno, "seek failed");
        return ARCHIVE_FATAL;
    }
    return step;
}

// The last component of the archive's path: the name the player chose, short enough to fit
// the message buffer beside the library's text.
std::string displayName(const char* archivePath) {
    std::string_view path(archivePath);
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    size_t slash = path.rfind('/');
    return abbreviatedPath(text::validUtf8(slash == std::string_view::npos ? path : path.substr(slash + 1)));
}

bool mentions(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

// The one place that turns libarchive's English into what a player can act on: a Chinese
// sentence about the file. The library's own text is only read here, never shown.
std::string archiveFailure(const std::string& name, std::string_view library) {
    const std::string file = "ZIP 文件“" + name + "”";
    if (mentions(library, "Unrecognized archive format")) {
        return file + "不是 ZIP 格式，或者已严重损坏。";
    }
    if (mentions(library, "Truncated") || mentions(library, "Premature end") ||
        mentions(library, "decompression failed (-5)")) {
        return file + "不完整，可能没有下载完或复制时被截断。";
    }
    if (mentions(library, "CRC")) {
        return file + "已损坏：数据校验不符。";
    }
    if (mentions(library, "size")) {
        return file + "已损坏：记录的大小与实际内容不符。";
    }
    if (mentions(library, "Unsupported")) {
        return file + "使用了不支持的压缩方式或功能，请用常见的 ZIP 工具重新打包。";
    }
    return file + "已损坏，无法读取。";
}

// One extraction. Every step returns null on success or the message of the failure; the
// text of a library failure lives in the handle, so it is copied out before the handle goes.
class Extraction {
public:
    Extraction(struct archive* handle, olvex_cancel_query isCancelled, void* context, const ExtractLimits& limits,
               ExtractProgress progress)
        : m_archive(handle), m_isCancelled(isCancelled), m_context(context), m_limits(limits), m_progress(progress) {}

    const char* run(const char* archivePath, const char* destinationPath) {
        if (archivePath == nullptr) {
            return kReadFailed;
        }
        if (archive_read_support_format_zip(m_archive) != ARCHIVE_OK) {
            return libraryError();
        }
        // On macOS libarchive folds "__MACOSX/._*" entries into the metadata of their files;
        // turned off, those entries are extracted like any other name on every platform.
        if (archive_read_set_format_option(m_archive, "zip", "mac-ext", nullptr) != ARCHIVE_OK) {
            return libraryError();
        }
        // The destination first: a staging folder that cannot be used is reported before the
        // archive is opened at all. Each failure has its own message either way.
        if (destinationPath == nullptr) {
            return kDestinationFailed;
        }
        try {
            m_root = FileSafety::openRoot(FileSafety::detail::absoluteText(destinationPath), SystemOperation::open);
        } catch (const std::exception&) {
            return kDestinationFailed;
        }
        m_flushEachFile = !FileSafety::wholeVolumeFlush(destinationPath);
        m_name = displayName(archivePath);
        if (const char* failure = openArchive(archivePath)) {
            return failure;
        }
        if (m_progress.report != nullptr && m_source.size > 0) {
            m_archiveSize = static_cast<uint64_t>(m_source.size);
        }
        archive_read_set_callback_data(m_archive, &m_source);
        archive_read_set_read_callback(m_archive, readBlock);
        archive_read_set_seek_callback(m_archive, seekTo);
        archive_read_set_skip_callback(m_archive, skipOver);
        // A warning from opening is a failure too: nothing of an archive opened half-way is trusted.
        if (archive_read_open1(m_archive) != ARCHIVE_OK) {
            return libraryError();
        }

        archive_entry* entry = nullptr;
        int result = archive_read_next_header(m_archive, &entry);
        if (result == ARCHIVE_EOF) {
            return kEmpty;
        }
        uint64_t count = 0;
        while (result == ARCHIVE_OK) {
            if (const char* failure = extractEntry(entry, count)) {
                return failure;
            }
            ++count;
            result = archive_read_next_header(m_archive, &entry);
        }
        if (result != ARCHIVE_EOF) {
            return libraryError();
        }
        // One flush of the volume when everything is written keeps the promise that an
        // extracted tree is on stable storage when the routine succeeds, at a fraction of the
        // cost of one fsync per file (packs hold thousands of small files). Where the volume
        // cannot be flushed at once, each file was flushed as it was written.
        if (!m_flushEachFile && sys::syncfs(m_root.get()) != 0) {
            return kSyncFailed;
        }
        return nullptr;
    }

private:
    // Regular files only, opened without following a link and without waiting for a writer.
    const char* openArchive(const char* archivePath) {
        FileSafety::OpenedFile file;
        try {
            if (!FileSafety::openRegularFile(archivePath, file, SystemOperation::open, SystemOperation::examine)) {
                m_message = "找不到 ZIP 文件“" + m_name + "”。";
                return m_message.c_str();
            }
        } catch (const ManagerError&) {
            return notRegular(archivePath);
        } catch (const SystemError& failure) {
            const int error = failure.error();
            m_message = failure.operation() == SystemOperation::examine
                            ? "无法检查 ZIP 文件“" + m_name + "”：" + errnoText(error) + "。"
                        : error == ENAMETOOLONG ? "ZIP 文件的" + pathTooLong(archivePath)
                                                : "无法打开 ZIP 文件“" + m_name + "”：" + errnoText(error) + "。";
            return m_message.c_str();
        }
        m_file = std::move(file.descriptor);
        m_source.fd = m_file.get();
        m_source.size = static_cast<std::int64_t>(file.status.st_size);
        return nullptr;
    }

    const char* notRegular(const char* archivePath) {
        struct ::stat st {};
        if (sys::lstat(archivePath, &st) == 0 && S_ISDIR(st.st_mode)) {
            m_message = "“" + m_name + "”是文件夹，不是 ZIP 文件，请选择 ZIP 文件本身。";
            return m_message.c_str();
        }
        m_message = "“" + m_name + "”不是普通文件（链接、管道或设备都不能作为 ZIP 读取），请选择 ZIP 文件本身。";
        return m_message.c_str();
    }

    const char* libraryError() {
        if (m_source.readError != 0) {
            m_message = "读取 ZIP 文件“" + m_name + "”失败：" + errnoText(m_source.readError) + "。";
            return m_message.c_str();
        }
        const char* text = archive_error_string(m_archive);
        if (text == nullptr || text[0] == '\0') {
            return kReadFailed;
        }
        m_message = archiveFailure(m_name, text);
        return m_message.c_str();
    }

    bool cancelled() const { return m_isCancelled != nullptr && m_isCancelled(m_context) != 0; }

    void reportProgress() const {
        if (m_archiveSize > 0) {
            const la_int64_t consumed = archive_filter_bytes(m_archive, -1);
            m_progress.report(m_progress.context, consumed > 0 ? static_cast<uint64_t>(consumed) : 0, m_archiveSize);
        }
    }

    const char* extractEntry(archive_entry* entry, uint64_t count) {
        if (cancelled()) {
            return kCancelled;
        }
        bool hasName = entryName(entry, m_entryName);
        if (breaksEntryRules(entry, hasName ? m_entryName.c_str() : nullptr, count, m_limits)) {
            return kUnsafeEntry;
        }
        la_int64_t declared = archive_entry_size(entry);
        if (declared < 0 || static_cast<uint64_t>(declared) > m_limits.maxTotalBytes - m_total) {
            return kDeclaredTooLarge;
        }
        bool isDirectory = archive_entry_filetype(entry) == AE_IFDIR;

        // Empty components (doubled or trailing slashes) name nothing; a trailing slash does
        // not make a file entry a directory.
        const std::vector<std::string_view> components = FileSafety::pathComponents(m_entryName);

        sys::Fd current(sys::dup(m_root.get()));
        if (!current.valid()) {
            return kDestinationFailed;
        }
        for (size_t i = 0; i < components.size(); ++i) {
            // Each component becomes its own NUL-terminated name for the *at calls.
            std::string component(components[i]);
            if (isBadComponent(component)) {
                return kBadComponent;
            }
            if (i + 1 < components.size() || isDirectory) {
                if (sys::mkdirat(current.get(), component.c_str(), 0700) != 0 && errno != EEXIST) {
                    return kCreateDirectoryFailed;
                }
                // Whatever is there now must be a real directory: a file, a link or a name that
                // vanished all end the extraction.
                sys::Fd next(sys::openat(current.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
                if (!next.valid()) {
                    return kDirectoryConflict;
                }
                current = std::move(next);
                continue;
            }
            sys::Fd file(sys::openat(current.get(), component.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
            if (!file.valid()) {
                return kNameTaken;
            }
            if (const char* failure = copyData(file.get())) {
                return failure; // the partial file stays for the caller to remove
            }
            if (m_flushEachFile && sys::fsync(file.get()) != 0) {
                return kSyncFailed;
            }
        }
        return nullptr;
    }

    const char* copyData(int fd) {
        // One fixed buffer on the stack: memory use does not depend on the entry or archive size.
        char chunk[kChunkSize];
        for (;;) {
            la_ssize_t length = archive_read_data(m_archive, chunk, sizeof chunk);
            if (length < 0) {
                return libraryError();
            }
            if (length == 0) {
                return nullptr;
            }
            if (cancelled()) {
                return kCancelled;
            }
            // Counted as written, whatever the header declared: a lying size cannot pass the budget.
            auto bytes = static_cast<uint64_t>(length);
            if (bytes > m_limits.maxTotalBytes - m_total) {
                return kWrittenTooLarge;
            }
            m_total += bytes;
            if (sys::writeAll(fd, chunk, static_cast<size_t>(length)) != 0) {
                return kWriteFailed;
            }
            reportProgress();
        }
    }

    struct archive* m_archive;
    olvex_cancel_query m_isCancelled;
    void* m_context;
    ExtractLimits m_limits;
    ExtractProgress m_progress;
    uint64_t m_archiveSize = 0; // 0: no progress is reported
    bool m_flushEachFile = false;
    sys::Fd m_file;
    Source m_source;
    sys::Fd m_root;
    uint64_t m_total = 0;
    std::string m_name;
    std::string m_entryName;
    std::string m_message;
};

void copyMessage(char* message, size_t messageSize, const char* text) {
    if (message != nullptr && messageSize > 0) {
        std::snprintf(message, messageSize, "%s", text);
    }
}

} // namespace

bool breaksEntryRules(archive_entry* entry, const char* name, uint64_t entriesSoFar,
                      const ExtractLimits& limits) noexcept {
    if (entriesSoFar >= limits.maxEntries) {
        return true;
    }
    if (name == nullptr || name[0] == '\0') {
        return true;
    }
    if (std::strlen(name) > kMaxPathBytes || name[0] == '/') {
        return true;
    }
    if (std::strchr(name, '\\') != nullptr || std::strchr(name, ':') != nullptr) {
        return true;
    }
    if (archive_entry_symlink(entry) != nullptr || archive_entry_hardlink(entry) != nullptr) {
        return true;
    }
    if (archive_entry_is_encrypted(entry) != 0) {
        return true;
    }
    auto type = archive_entry_filetype(entry);
    return type != AE_IFDIR && type != AE_IFREG;
}

int extractZip(const char* archivePath, const char* destinationPath, char* message, size_t messageSize,
               olvex_cancel_query isCancelled, void* context, const ExtractLimits& limits,
               ExtractProgress progress) noexcept {
    try {
        ThreadUtf8Locale locale;
        ArchiveHandle handle(archive_read_new());
        if (!handle) {
            copyMessage(message, messageSize, kReadFailed);
            return -1;
        }
        Extraction extraction(handle.get(), isCancelled, context, limits, progress);
        const char* failure = extraction.run(archivePath, destinationPath);
        if (failure == nullptr) {
            return 0;
        }
        copyMessage(message, messageSize, failure);
        return -1;
    } catch (...) {
        // Only an allocation can throw here; nothing of the archive was trusted.
        copyMessage(message, messageSize, kReadFailed);
        return -1;
    }
}

} // namespace olvex::archive

extern "C" int olvex_extract_zip_cancellable(const char* archive_path, const char* destination_path, char* message,
                                             size_t message_size, olvex_cancel_query is_cancelled, void* context) {
    return olvex::archive::extractZip(archive_path, destination_path, message, message_size, is_cancelled, context,
                                      olvex::archive::ExtractLimits{});
}
