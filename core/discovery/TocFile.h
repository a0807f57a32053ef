#pragma once

// Reading an add-on's table-of-contents (.toc) file: which of an add-on folder's .toc files
// the game reads for a version folder, and the "## Key: Value" fields that file declares.
// Nothing here touches the disk; the inventory reads the bytes and hands them over.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"

namespace olvex::toc {

// Only this much of a .toc file is read: real ones are a few KiB, and the cap bounds what a
// listing reads whatever an add-on folder holds.
constexpr std::size_t kReadLimit = 262'144;
// Longest value kept, in user-perceived characters, counted before colour codes go.
constexpr std::size_t kValueLimit = 512;

// The flavour suffixes ("Mainline", "Vanilla", ...) the game of a version folder looks for,
// most preferred first. Unknown names get the list of the progression classic clients.
const std::vector<std::string>& flavourSuffixes(const std::string& versionFolderName);

// True when a file name's extension (after the last ".", not a leading one) is "toc" in any
// letter case.
bool isTocName(const std::string& name);

// Picks, among the names of an add-on folder's entries, the .toc file the version folder's
// game reads: "<add-on>_<suffix>.toc" for the first suffix that has one, else "<add-on>.toc",
// else the first .toc name in code-point order. Names match ignoring letter case. Nothing when
// no entry has the .toc extension.
std::optional<std::string> chooseFile(const std::string& addonName, const std::vector<std::string>& entryNames,
                                      const std::string& versionFolderName);

// Turns the bytes of a .toc file into its fields, lower-case key → value. Bytes are decoded
// as UTF-8 with replacement and a leading byte-order mark is dropped (editors on Windows write
// one, and the game still reads the first line). Only lines starting "##" in the first column
// count; key and value are split at the first ":", both must be non-empty, both are trimmed;
// the value keeps its first 512 characters with "|cAARRGGBB" and "|r" colour codes removed.
// A key seen again replaces the earlier value. Never fails on odd input.
class FieldParser {
public:
    FieldParser();
    std::map<std::string, std::string> parse(std::string_view bytes) const;

private:
    text::Regex m_colourCodes;
};

} // namespace olvex::toc
