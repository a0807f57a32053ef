#include "support/ZipBuilder.h"

#include <archive.h>
#include <archive_entry.h>
#include <array>
#include <fstream>
#include <locale.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace olvex::test {

namespace {

// libarchive's writer sets the UTF-8 flag on a name that is not ASCII exactly when the
// thread's LC_CTYPE is UTF-8, and stores the bytes unchanged either way; so each header is
// written in the locale that gives the flag the entry asks for. The thread's own locale is
// put back at the end.
class HeaderLocales {
public:
    HeaderLocales()
        : m_utf8(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))),
          m_plain(::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr))),
          m_previous(::uselocale(static_cast<locale_t>(nullptr))) {
        if (m_utf8 == static_cast<locale_t>(nullptr) || m_plain == static_cast<locale_t>(nullptr)) {
            throw std::runtime_error("no C.UTF-8 locale");
        }
    }
    ~HeaderLocales() {
        ::uselocale(m_previous);
        ::freelocale(m_utf8);
        ::freelocale(m_plain);
    }
    HeaderLocales(const HeaderLocales&) = delete;
    HeaderLocales& operator=(const HeaderLocales&) = delete;
    void use(bool utf8Flag) const { ::uselocale(utf8Flag ? m_utf8 : m_plain); }

private:
    locale_t m_utf8;
    locale_t m_plain;
    locale_t m_previous;
};

struct WriterFree {
    void operator()(struct archive* handle) const { archive_write_free(handle); }
};
struct EntryFree {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

void check(struct archive* handle, int result, const std::string& what) {
    if (result != ARCHIVE_OK) {
        const char* text = archive_error_string(handle);
        throw std::runtime_error(what + ": " + (text ? text : "libarchive failed"));
    }
}

uint32_t crc32(const std::string& data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        c = table[(c ^ byte) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

void put16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

} // namespace

void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries, const ZipOptions& options) {
    std::unique_ptr<struct archive, WriterFree> writer(archive_write_new());
    struct archive* a = writer.get();
    check(a, archive_write_set_format_zip(a), "zip format");
    check(a, archive_write_set_format_option(a, "zip", "compression", options.deflate ? "deflate" : "store"),
          "compression");
    if (!options.passphrase.empty()) {
        check(a, archive_write_set_format_option(a, "zip", "encryption", "zipcrypt"), "encryption");
        check(a, archive_write_set_passphrase(a, options.passphrase.c_str()), "passphrase");
    }
    check(a, archive_write_open_filename(a, path.c_str()), "open " + path.native());
    HeaderLocales locales;
    for (const ZipEntry& spec : entries) {
        std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
        archive_entry* e = entry.get();
        archive_entry_copy_pathname(e, spec.rawName ? spec.rawName->c_str() : spec.name.c_str());
        archive_entry_set_mtime(e, 1'600'000'000, 0);
        switch (spec.type) {
        case ZipEntry::Type::file:
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_size(e, static_cast<la_int64_t>(spec.content.size()));
            break;
        case ZipEntry::Type::directory:
            archive_entry_set_filetype(e, AE_IFDIR);
            archive_entry_set_perm(e, 0755);
            archive_entry_set_size(e, 0);
            break;
        case ZipEntry::Type::symlink:
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_perm(e, 0777);
            archive_entry_copy_symlink(e, spec.content.c_str());
            archive_entry_set_size(e, 0);
            break;
        }
        locales.use(!spec.rawName);
        check(a, archive_write_header(a, e), "header " + spec.name);
        if (spec.type == ZipEntry::Type::file && !spec.content.empty()) {
            la_ssize_t written = archive_write_data(a, spec.content.data(), spec.content.size());
            if (written != static_cast<la_ssize_t>(spec.content.size())) {
                check(a, ARCHIVE_FATAL, "data " + spec.name);
            }
        }
    }
    check(a, archive_write_close(a), "close " + path.native());
}

void writeRawZip(const std::filesystem::path& path, const std::vector<RawZipEntry>& entries) {
    constexpr uint32_t kMadeByUnix = (3u << 8) | 30u;
    constexpr uint32_t kDosTime = 0x0000, kDosDate = 0x5021; // 2020-01-01
    std::string body, directory;
    for (const RawZipEntry& entry : entries) {
        uint32_t flags = (entry.utf8Flag ? 1u << 11 : 0u) | (entry.encryptedFlag ? 1u : 0u);
        uint32_t crc = crc32(entry.data);
        auto real = static_cast<uint32_t>(entry.data.size());
        uint32_t declared = entry.declaredSize.value_or(real);
        auto offset = static_cast<uint32_t>(body.size());
        auto nameLength = static_cast<uint32_t>(entry.name.size());

        put32(body, 0x04034b50);
        for (uint32_t field : {20u, flags, 0u, kDosTime, kDosDate}) {
            put16(body, field);
        }
        for (uint32_t field : {crc, real, declared}) {
            put32(body, field);
        }
        put16(body, nameLength);
        put16(body, 0);
        body += entry.name;
        body += entry.data;

        put32(directory, 0x02014b50);
        for (uint32_t field : {kMadeByUnix, 20u, flags, 0u, kDosTime, kDosDate}) {
            put16(directory, field);
        }
        for (uint32_t field : {crc, real, declared}) {
            put32(directory, field);
        }
        for (uint32_t field : {nameLength, 0u, 0u, 0u, 0u}) {
            put16(directory, field);
        }
        put32(directory, entry.mode << 16);
        put32(directory, offset);
        directory += entry.name;
    }
    std::string end;
    put32(end, 0x06054b50);
    auto count = static_cast<uint32_t>(entries.size());
    for (uint32_t field : {0u, 0u, count, count}) {
        put16(end, field);
    }
    put32(end, static_cast<uint32_t>(directory.size()));
    put32(end, static_cast<uint32_t>(body.size()));
    put16(end, 0);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << body << directory << end;
    if (!out) {
        throw std::runtime_error("cannot write " + path.native());
    }
}

} // namespace olvex::test
