#include "discovery/TocFile.h"

#include <algorithm>

namespace olvex::toc {

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Lower case by Unicode rules; names are nearly always ASCII, which needs no trip through ICU.
std::string lower(std::string_view name) {
    if (!isAscii(name)) {
        return text::lowercased(name);
    }
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace

const std::vector<std::string>& flavourSuffixes(const std::string& versionFolderName) {
    static const std::vector<std::string> mainline{"Mainline"};
    static const std::vector<std::string> era{"Vanilla", "Classic"};
    static const std::vector<std::string> anniversary{"Vanilla", "TBC", "Classic"};
    static const std::vector<std::string> progression{"Mists", "Cata", "Wrath", "TBC", "Classic"};
    if (versionFolderName == "_retail_" || versionFolderName == "_ptr_" || versionFolderName == "_beta_") {
        return mainline;
    }
    if (versionFolderName == "_classic_era_") {
        return era;
    }
    if (versionFolderName == "_anniversary_") {
        return anniversary;
    }
    return progression;
}

bool isTocName(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return false;
    }
    return lower(std::string_view(name).substr(dot + 1)) == "toc";
}

std::optional<std::string> chooseFile(const std::string& addonName, const std::vector<std::string>& entryNames,
                                      const std::string& versionFolderName) {
    std::vector<std::string> candidates;
    for (const auto& name : entryNames) {
        if (isTocName(name)) {
            candidates.push_back(name);
        }
    }
    if (candidates.empty()) {
        return std::nullopt;
    }
    // std::string orders by unsigned byte, which for UTF-8 is code-point order.
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::string> lowered;
    lowered.reserve(candidates.size());
    for (const auto& name : candidates) {
        lowered.push_back(lower(name));
    }
    auto find = [&](const std::string& wanted) -> std::optional<std::string> {
        auto it = std::find(lowered.begin(), lowered.end(), wanted);
        if (it == lowered.end()) {
            return std::nullopt;
        }
        return candidates[static_cast<size_t>(it - lowered.begin())];
    };
    const std::string base = lower(addonName);
    for (const auto& suffix : flavourSuffixes(versionFolderName)) {
        if (auto found = find(base + "_" + lower(suffix) + ".toc")) {
            return found;
        }
    }
    if (auto found = find(base + ".toc")) {
        return found;
    }
    return candidates.front();
}

FieldParser::FieldParser() : m_colourCodes("\\|c[0-9a-fA-F]{8}|\\|r") {}

std::map<std::string, std::string> FieldParser::parse(std::string_view bytes) const {
    std::string decoded = text::validUtf8(bytes);
    std::string_view content(decoded);
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (content.starts_with(byteOrderMark)) {
        content.remove_prefix(byteOrderMark.size());
    }
    std::map<std::string, std::string> fields;
    for (const auto& line : text::splitLines(content)) {
        std::string_view rest(line);
        if (!rest.starts_with("##")) {
            continue;
        }
        rest.remove_prefix(2);
        size_t colon = rest.find(':');
        if (colon == std::string_view::npos || colon == 0 || colon + 1 == rest.size()) {
            continue;
        }
        std::string key = lower(text::trimmed(rest.substr(0, colon)));
        std::string value = text::trimmed(rest.substr(colon + 1));
        // A value of at most 512 bytes has at most 512 characters: only longer ones need the
        // grapheme walk.
        if (value.size() > kValueLimit) {
            value = text::characterPrefix(value, kValueLimit);
        }
        if (value.find('|') != std::string::npos) {
            value = m_colourCodes.replaceAll(value, "");
        }
        fields[std::move(key)] = std::move(value);
    }
    return fields;
}

} // namespace olvex::toc
