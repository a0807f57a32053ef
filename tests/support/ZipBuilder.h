#pragma once

// Builds ZIP archives at run time for tests: ordinary ones through libarchive's writer, and
// hostile ones byte by byte where the writer refuses (empty names, device entries, sizes that
// lie, the encryption flag without encryption).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace olvex::test {

// One entry of an archive written by writeZip.
struct ZipEntry {
    enum class Type { file, directory, symlink };
    std::string name;    // UTF-8; stored with the UTF-8 flag when it is not plain ASCII
    std::string content; // the data of a file, the target of a symlink
    Type type = Type::file;
    // When set, these bytes are stored as the name without the UTF-8 flag (as Chinese Windows
    // stores GBK names) and `name` is ignored.
    std::optional<std::string> rawName = std::nullopt;

    static ZipEntry file(std::string name, std::string content) { return {std::move(name), std::move(content)}; }
};

// Writes the entries in order, deflated or (much faster for many tiny entries) stored. Throws
// std::runtime_error when libarchive refuses one.
void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries, bool deflate = true);

// One entry of an archive written by writeRawZip: stored (not compressed), made on Unix.
struct RawZipEntry {
    std::string name; // the bytes of the name, exactly as stored
    std::string data;
    uint32_t mode = 0100644; // st_mode kept in the external attributes
    bool utf8Flag = true;
    bool encryptedFlag = false; // only the flag: the data stays plain
    // The uncompressed size written in both headers; the real size when absent.
    std::optional<uint32_t> declaredSize = std::nullopt;
};

// Writes the entries in order, local headers then the central directory, byte by byte.
void writeRawZip(const std::filesystem::path& path, const std::vector<RawZipEntry>& entries);

} // namespace olvex::test
