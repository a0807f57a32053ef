#include "service/BackupDigests.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "base/Gzip.h"
#include "fs/FileSafety.h"

namespace olvex {

namespace {

const std::string kHeader = "olvex-digests 1\n";
// Far above the list of the largest payload the store takes (50,000 entries of a few hundred bytes).
constexpr std::int64_t kListLimit = 64 << 20;

void appendEscaped(std::string& out, const std::string& path) {
    for (char c : path) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == 'n')) {
            out += text[++i] == 'n' ? '\n' : '\\';
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// The next space-separated field of a line, taken off its front; nothing when no space follows.
std::optional<std::string_view> field(std::string_view& line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = line.substr(0, space);
    line.remove_prefix(space + 1);
    return value;
}

std::optional<std::int64_t> number(std::optional<std::string_view> text) {
    std::int64_t value = 0;
    if (!text || text->empty()) {
        return std::nullopt;
    }
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

bool isDigest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

bool isDigestListName(const std::string& name) {
    return name == kDigestListName || name == kUncompressedDigestListName;
}

std::string encodeDigestList(const FileSafety::StoredEntries& entries) {
    std::string text = kHeader;
    text.reserve(entries.size() * 128);
    for (const auto& [path, entry] : entries) {
        text += entry.sha256;
        text += ' ';
        text += std::to_string(entry.size);
        text += ' ';
        text += entry.sourceTime ? std::to_string(*entry.sourceTime) : "-";
        text += ' ';
        text += std::to_string(entry.storedTime);
        text += ' ';
        appendEscaped(text, path);
        text += '\n';
    }
    return gzip::compress(text);
}

std::optional<FileSafety::StoredEntries> decodeDigestList(const std::string& stored) {
    std::optional<std::string> inflated;
    if (stored.substr(0, kHeader.size()) != kHeader && !(inflated = gzip::decompress(stored, kListLimit))) {
        return std::nullopt;
    }
    std::string_view text = inflated ? *inflated : stored;
    if (text.substr(0, kHeader.size()) != kHeader) {
        return std::nullopt;
    }
    text.remove_prefix(kHeader.size());
    FileSafety::StoredEntries entries;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt; // cut short
        }
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto digest = field(line);
        const auto size = number(field(line));
        const auto sourceField = field(line);
        const auto storedTime = number(field(line));
        const auto path = unescaped(line);
        if (!digest || !size || !sourceField || !storedTime || !path || path->empty()) {
            return std::nullopt;
        }
        const bool folder = *digest == FileSafety::kFolderDigest;
        if (folder != (path->back() == '/') || (!folder && !isDigest(*digest))) {
            return std::nullopt;
        }
        std::optional<std::int64_t> sourceTime;
        if (*sourceField != "-" && !(sourceTime = number(sourceField))) {
            return std::nullopt;
        }
        entries.emplace_hint(entries.end(), *path,
                             FileSafety::StoredEntry{std::string(*digest), *size, sourceTime, *storedTime});
    }
    return entries;
}

std::optional<FileSafety::StoredEntries> readDigestList(const Path& backupFolder) {
    try {
        for (const char* name : {kDigestListName, kUncompressedDigestListName}) {
            if (auto stored = FileSafety::readBounded(backupFolder / name, kListLimit, "备份摘要清单过大。")) {
                return decodeDigestList(*stored);
            }
        }
        return std::nullopt;
    } catch (const std::exception&) {
        // A list that cannot be read only means nothing is shared with this backup.
        return std::nullopt;
    }
}

DigestMap digestMapOf(const FileSafety::StoredEntries& entries) {
    DigestMap map;
    for (const auto& [path, entry] : entries) {
        map.emplace_hint(map.end(), path, entry.sha256);
    }
    return map;
}

} // namespace olvex
