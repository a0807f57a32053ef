#include "support/ZipBuilder.h"

#include <archive.h>
#include <archive_entry.h>
#include <fstream>
#include <locale.h>
#include <memory>
#include <stdexcept>

namespace olvex::test {

namespace {

void check(struct archive* handle, int result, const std::string& what) {
    if (result != ARCHIVE_OK) {
        const char* text = archive_error_string(handle);
        throw std::runtime_error(what + ": " + (text ? text : "libarchive failed"));
    }
}

uint32_t crc32(const std::string& data) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        c ^= byte;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
    }
    return c ^ 0xFFFFFFFFu;
}

// Appends each value as a little-endian field of `width` bytes.
void put(std::string& out, int width, std::initializer_list<uint32_t> values) {
    for (uint32_t value : values) {
        for (int i = 0; i < width; ++i) {
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        }
    }
}

} // namespace

void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries, bool deflate) {
    std::unique_ptr<struct archive, int (*)(struct archive*)> writer(archive_write_new(), archive_write_free);
    struct archive* a = writer.get();
    check(a, archive_write_set_format_zip(a), "zip format");
    check(a, archive_write_set_format_option(a, "zip", "compression", deflate ? "deflate" : "store"), "compression");
    check(a, archive_write_open_filename(a, path.c_str()), "open " + path.native());
    // libarchive's writer sets the UTF-8 flag on a name that is not ASCII exactly when the thread's
    // LC_CTYPE is UTF-8 and stores the bytes unchanged either way: each header is written in the
    // locale that gives the flag the entry asks for, and the thread's own locale is put back.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{}),
                          plain = ::newlocale(LC_CTYPE_MASK, "C", locale_t{});
    if (utf8 == locale_t{} || plain == locale_t{}) {
        throw std::runtime_error("no C.UTF-8 locale");
    }
    struct Restore {
        locale_t previous;
        ~Restore() { ::uselocale(previous); }
    } restore{::uselocale(locale_t{})};
    for (const ZipEntry& spec : entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
        archive_entry* e = entry.get();
        archive_entry_copy_pathname(e, spec.rawName ? spec.rawName->c_str() : spec.name.c_str());
        archive_entry_set_mtime(e, 1'600'000'000, 0);
        bool file = spec.type == ZipEntry::Type::file;
        archive_entry_set_filetype(e, file ? AE_IFREG : spec.type == ZipEntry::Type::directory ? AE_IFDIR : AE_IFLNK);
        archive_entry_set_perm(e, file ? 0644 : spec.type == ZipEntry::Type::directory ? 0755 : 0777);
        archive_entry_set_size(e, file ? static_cast<la_int64_t>(spec.content.size()) : 0);
        if (spec.type == ZipEntry::Type::symlink) {
            archive_entry_copy_symlink(e, spec.content.c_str());
        }
        ::uselocale(spec.rawName ? plain : utf8);
        check(a, archive_write_header(a, e), "header " + spec.name);
        if (file && !spec.content.empty() &&
            archive_write_data(a, spec.content.data(), spec.content.size()) !=
                static_cast<la_ssize_t>(spec.content.size())) {
            check(a, ARCHIVE_FATAL, "data " + spec.name);
        }
    }
    check(a, archive_write_close(a), "close " + path.native());
}

void writeRawZip(const std::filesystem::path& path, const std::vector<RawZipEntry>& entries) {
    constexpr uint32_t kMadeByUnix = (3u << 8) | 30u, kDosTime = 0x0000, kDosDate = 0x5021; // 2020-01-01
    std::string body, directory, end;
    for (const RawZipEntry& entry : entries) {
        uint32_t flags = (entry.utf8Flag ? 1u << 11 : 0u) | (entry.encryptedFlag ? 1u : 0u);
        uint32_t crc = crc32(entry.data), real = static_cast<uint32_t>(entry.data.size());
        uint32_t declared = entry.declaredSize.value_or(real), nameLength = static_cast<uint32_t>(entry.name.size());
        put(directory, 4, {0x02014b50});
        put(directory, 2, {kMadeByUnix, 20, flags, 0, kDosTime, kDosDate});
        put(directory, 4, {crc, real, declared});
        put(directory, 2, {nameLength, 0, 0, 0, 0});
        put(directory, 4, {entry.mode << 16, static_cast<uint32_t>(body.size())});
        directory += entry.name;
        put(body, 4, {0x04034b50});
        put(body, 2, {20, flags, 0, kDosTime, kDosDate});
        put(body, 4, {crc, real, declared});
        put(body, 2, {nameLength, 0});
        body += entry.name + entry.data;
    }
    auto count = static_cast<uint32_t>(entries.size());
    put(end, 4, {0x06054b50});
    put(end, 2, {0, 0, count, count});
    put(end, 4, {static_cast<uint32_t>(directory.size()), static_cast<uint32_t>(body.size())});
    put(end, 2, {0});
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << body << directory << end;
    if (!out) {
        throw std::runtime_error("cannot write " + path.native());
    }
}

} // namespace olvex::test
