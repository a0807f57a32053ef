#include "base/Text.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace olvex::text {

namespace {

icu::UnicodeString fromUtf8(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::UnicodeString folded(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        throw std::runtime_error("ICU normalizer unavailable");
    }
    icu::UnicodeString decomposed = nfd->normalize(fromUtf8(utf8), status);
    icu::UnicodeString bare;
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) {
            bare.append(c);
        }
        i += U16_LENGTH(c);
    }
    bare.foldCase(U_FOLD_CASE_DEFAULT);
    // Folding can produce new decomposable sequences; settle on the composed form.
    icu::UnicodeString result = nfc->normalize(nfd->normalize(bare, status), status);
    if (U_FAILURE(status)) {
        throw std::runtime_error("ICU normalization failed");
    }
    return result;
}

// An iterator over the user-perceived characters of `text`, which must outlive it.
std::unique_ptr<icu::BreakIterator> characterBreaks(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        throw std::runtime_error("ICU break iterator unavailable");
    }
    it->setText(text);
    return it;
}

bool isLineBreak(UChar32 c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isTrimmable(UChar32 c) {
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

} // namespace

std::string validUtf8(std::string_view bytes) {
    if (isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return toUtf8(fromUtf8(bytes));
}

bool isValidUtf8(std::string_view bytes) {
    int32_t i = 0;
    int32_t length = static_cast<int32_t>(bytes.size());
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

size_t characterCount(std::string_view utf8) {
    const icu::UnicodeString text = fromUtf8(utf8);
    const std::unique_ptr<icu::BreakIterator> it = characterBreaks(text);
    size_t count = 0;
    for (int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) {
        ++count;
    }
    return count;
}

std::string characterPrefix(std::string_view utf8, size_t count) {
    const icu::UnicodeString text = fromUtf8(utf8);
    const std::unique_ptr<icu::BreakIterator> it = characterBreaks(text);
    int32_t end = 0;
    for (size_t n = 0; n < count; ++n) {
        int32_t p = it->next();
        if (p == icu::BreakIterator::DONE) {
            return toUtf8(text);
        }
        end = p;
    }
    return toUtf8(text.tempSubString(0, end));
}

std::string lowercased(std::string_view utf8) {
    return toUtf8(fromUtf8(utf8).toLower(icu::Locale::getRoot()));
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return fromUtf8(a).caseCompare(fromUtf8(b), U_FOLD_CASE_DEFAULT) == 0;
}

std::string foldCaseAndDiacritics(std::string_view utf8) {
    return toUtf8(folded(utf8));
}

bool equalIgnoringCaseAndDiacritics(std::string_view a, std::string_view b) {
    return folded(a) == folded(b);
}

std::string visible(std::string_view utf8) {
    const std::string valid = validUtf8(utf8);
    std::string out;
    out.reserve(valid.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(valid.data());
    const auto length = static_cast<int32_t>(valid.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        switch (c) {
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out.append(valid, static_cast<size_t>(start), static_cast<size_t>(i - start));
        }
    }
    return out;
}

std::vector<std::string> splitLines(std::string_view utf8) {
    std::vector<std::string> lines;
    icu::UnicodeString text = fromUtf8(utf8);
    int32_t start = 0;
    for (int32_t i = 0; i < text.length();) {
        UChar32 c = text.char32At(i);
        int32_t next = i + U16_LENGTH(c);
        if (isLineBreak(c)) {
            lines.push_back(toUtf8(text.tempSubString(start, i - start)));
            start = next;
        }
        i = next;
    }
    lines.push_back(toUtf8(text.tempSubString(start)));
    return lines;
}

std::string trimmed(std::string_view utf8) {
    icu::UnicodeString text = fromUtf8(utf8);
    int32_t begin = 0;
    int32_t end = text.length();
    while (begin < end) {
        UChar32 c = text.char32At(begin);
        if (!isTrimmable(c)) {
            break;
        }
        begin += U16_LENGTH(c);
    }
    while (end > begin) {
        int32_t previous = text.moveIndex32(end, -1);
        if (!isTrimmable(text.char32At(previous))) {
            break;
        }
        end = previous;
    }
    return toUtf8(text.tempSubString(begin, end - begin));
}

struct Regex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
};

Regex::Regex(std::string_view pattern) : m_impl(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError error;
    m_impl->pattern.reset(icu::RegexPattern::compile(fromUtf8(pattern), 0, error, status));
    if (U_FAILURE(status)) {
        throw std::invalid_argument("invalid regular expression");
    }
}

Regex::~Regex() = default;

bool Regex::search(std::string_view utf8) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text = fromUtf8(utf8);
    std::unique_ptr<icu::RegexMatcher> matcher(m_impl->pattern->matcher(text, status));
    return U_SUCCESS(status) && matcher->find(status) && U_SUCCESS(status);
}

std::string Regex::replaceAll(std::string_view utf8, std::string_view replacement) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text = fromUtf8(utf8);
    std::unique_ptr<icu::RegexMatcher> matcher(m_impl->pattern->matcher(text, status));
    icu::UnicodeString result = matcher->replaceAll(fromUtf8(replacement), status);
    if (U_FAILURE(status)) {
        throw std::runtime_error("regular expression replacement failed");
    }
    return toUtf8(result);
}

} // namespace olvex::text
