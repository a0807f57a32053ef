#pragma once

// Unicode text services over UTF-8 std::string, all backed by ICU with fixed (root/POSIX)
// rules so that results never depend on the user's locale.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace olvex::text {

// Decodes bytes as UTF-8, replacing each invalid sequence with U+FFFD.
std::string validUtf8(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);

// User-perceived characters (extended grapheme clusters).
size_t characterCount(std::string_view utf8);
// The first `count` user-perceived characters.
std::string characterPrefix(std::string_view utf8, size_t count);

// Lower case by Unicode's default (locale-independent) rules.
std::string lowercased(std::string_view utf8);
// Equal ignoring letter case (full case folding).
bool equalIgnoringCase(std::string_view a, std::string_view b);
// Case- and diacritic-insensitive folding in canonical composed form: two names collide
// exactly when their folds are equal bytes (so NFC/NFD spellings also collide).
std::string foldCaseAndDiacritics(std::string_view utf8);
bool equalIgnoringCaseAndDiacritics(std::string_view a, std::string_view b);

// The text with nothing in it that a terminal would act on: C0 and C1 controls, DEL and the
// Unicode line and paragraph separators are written as JSON writes them ("\n", "\t", "\u001b",
// "\u0085"), and a backslash as "\\" so that no name can pass for such an escape. Invalid
// UTF-8 is replaced. For text from packs, .toc files and folder names shown as plain text.
std::string visible(std::string_view utf8);

// Splits at every line break character (LF, VT, FF, CR, NEL, LS, PS); CRLF gives an empty line.
std::vector<std::string> splitLines(std::string_view utf8);
// Trims tabs and Unicode space separators (Zs) from both ends.
std::string trimmed(std::string_view utf8);

// An ICU regular expression compiled once. Throws std::invalid_argument for a bad pattern.
class Regex {
public:
    explicit Regex(std::string_view pattern);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;
    // Whether the pattern matches anywhere in the text (use ^...$ for whole-text matches).
    bool search(std::string_view utf8) const;
    std::string replaceAll(std::string_view utf8, std::string_view replacement) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace olvex::text
