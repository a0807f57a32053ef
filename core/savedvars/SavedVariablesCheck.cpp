#include "savedvars/SavedVariablesCheck.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

std::string rawValue(SavedVariablesState state) {
    switch (state) {
    case SavedVariablesState::healthy:
        return "healthy";
    case SavedVariablesState::empty:
        return "empty";
    case SavedVariablesState::truncated:
        return "truncated";
    case SavedVariablesState::malformed:
        return "malformed";
    }
    return "malformed";
}

std::string title(SavedVariablesState state) {
    switch (state) {
    case SavedVariablesState::healthy:
        return "完好";
    case SavedVariablesState::empty:
        return "空文件";
    case SavedVariablesState::truncated:
        return "内容被截断";
    case SavedVariablesState::malformed:
        return "格式错误";
    }
    return "格式错误";
}

namespace {

constexpr int kEnd = -1;
constexpr std::size_t kChunk = 1 << 20;

// The character classes of the C locale, which the reference compiler runs in: bytes from
// 0x80 are neither letters nor spaces.
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAlnum(int c) {
    return isAlpha(c) || isDigit(c);
}
bool isHex(int c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isNewline(int c) {
    return c == '\n' || c == '\r';
}

// Where the text stopped making sense. `atEnd`: it stopped because the text ended;
// `outsideShape`: at Lua that is not saved-variables data.
struct Stop {
    bool atEnd;
    int line;
    bool outsideShape = false;
};

// The bytes of the source, one chunk at a time, with the character under the cursor.
class Input {
public:
    explicit Input(const SavedVariablesReader& source) : m_source(source), m_buffer(new char[kChunk]) { fill(); }

    int current() const { return m_position < m_size ? static_cast<unsigned char>(m_buffer[m_position]) : kEnd; }
    void advance() {
        if (++m_position >= m_size) {
            fill();
        }
    }
    bool sawAnything() const { return m_total > 0; }
    // The unread bytes of the current chunk, for the string scanners' fast paths.
    const char* rest() const { return m_buffer.get() + m_position; }
    std::size_t restSize() const { return m_size - m_position; }
    void skip(std::size_t count) {
        m_position += count;
        if (m_position >= m_size) {
            fill();
        }
    }

private:
    void fill() {
        m_position = 0;
        m_size = m_atEnd ? 0 : m_source(m_buffer.get(), kChunk);
        m_atEnd = m_size == 0;
        m_total += m_size;
    }

    const SavedVariablesReader& m_source;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_position = 0;
    std::size_t m_size = 0;
    std::size_t m_total = 0;
    bool m_atEnd = false;
};

enum class Token {
    end,
    name,
    valueKeyword, // true, false, nil
    otherKeyword,
    number,
    string,
    assign,
    minus,
    // Tokens that only continue or start Lua beyond the data shape: binary operators ("and"
    // and "or" included), what may start an expression ("(", "#", "...", "not", "function"),
    // the statement keywords, and the "." and ":" of an index or a method call.
    binaryOperator,
    expressionStart,
    statementKeyword,
    function,
    openParen,
    dot,
    colon,
    openBrace,
    closeBrace,
    openBracket,
    closeBracket,
    comma,
    semicolon,
    other,
};

// Decides a number's lexeme as C's strtod followed by the compiler's hexadecimal retry would,
// one character at a time: decimal `\d+\.?\d*|\.\d+` with an optional `[eE][+-]?\d+`, or
// `0[xX]` hex digits with an optional `[pP]\d+` (a sign never reaches a hexadecimal lexeme).
class NumberShape {
public:
    // A zero byte, which the compiler's lexer takes where it looks for an exponent mark or its
    // sign (its character-set test matches the string terminator), ends the number as C reads
    // it: whatever follows in the lexeme no longer counts.
    void take(int c) {
        if (m_ended) {
            return;
        }
        if (c == 0) {
            m_ended = true;
            return;
        }
        switch (m_state) {
        case State::start:
            m_state = c == '0' ? State::zero : c == '.' ? State::leadingDot : State::integer;
            break;
        case State::zero:
            if (c == 'x' || c == 'X') {
                m_state = State::hexMark;
                break;
            }
            [[fallthrough]];
        case State::integer:
            m_state = isDigit(c) ? State::integer : c == '.' ? State::fraction : exponentOr(c);
            break;
        case State::leadingDot:
            m_state = isDigit(c) ? State::fraction : State::bad;
            break;
        case State::fraction:
            m_state = isDigit(c) ? State::fraction : exponentOr(c);
            break;
        case State::exponent:
            m_state = c == '+' || c == '-' ? State::exponentSign : isDigit(c) ? State::exponentDigits : State::bad;
            break;
        case State::exponentSign:
        case State::exponentDigits:
            m_state = isDigit(c) ? State::exponentDigits : State::bad;
            break;
        case State::hexMark:
        case State::hexDigits:
            m_state = isHex(c)                                                  ? State::hexDigits
                      : (m_state == State::hexDigits && (c == 'p' || c == 'P')) ? State::binaryExponent
                                                                                : State::bad;
            break;
        case State::binaryExponent:
        case State::binaryDigits:
            m_state = isDigit(c) ? State::binaryDigits : State::bad;
            break;
        case State::bad:
            break;
        }
    }
    // False once no byte can make the lexeme a number: a text that ends before such a lexeme
    // is whole was cut inside it.
    bool viable() const { return m_state != State::bad; }
    bool valid() const {
        return m_state == State::zero || m_state == State::integer || m_state == State::fraction ||
               m_state == State::exponentDigits || m_state == State::hexDigits || m_state == State::binaryDigits;
    }

private:
    enum class State {
        start,
        zero,
        integer,
        leadingDot,
        fraction,
        exponent,
        exponentSign,
        exponentDigits,
        hexMark,
        hexDigits,
        binaryExponent,
        binaryDigits,
        bad,
    };
    static State exponentOr(int c) { return c == 'e' || c == 'E' ? State::exponent : State::bad; }
    State m_state = State::start;
    bool m_ended = false;
};

// Lua 5.1's lexer (llex.c) without the token values, which the check never needs.
class Lexer {
public:
    explicit Lexer(const SavedVariablesReader& source) : m_in(source) {
        // The loader skips a first line that starts with "#" (a script's "#!"), keeping its
        // line break so that line numbers stay those of the file.
        if (m_in.current() == '#') {
            while (m_in.current() != kEnd && m_in.current() != '\n') {
                m_in.advance();
            }
        }
    }

    bool sawAnything() const { return m_in.sawAnything(); }
    int line() const { return m_line; }
    // An error found now, in the middle of the text or at its end.
    [[noreturn]] void fail() const { throw Stop{m_in.current() == kEnd, m_line}; }
    [[noreturn]] void failWithin() const { throw Stop{false, m_line}; }

    Token scan() {
        for (;;) {
            const int c = m_in.current();
            switch (c) {
            case kEnd:
                return Token::end;
            case '\n':
            case '\r':
                newline();
                continue;
            case '-':
                m_in.advance();
                if (m_in.current() != '-') {
                    return Token::minus;
                }
                m_in.advance();
                if (m_in.current() == '[') {
                    const int level = separator();
                    if (level >= 0) {
                        longBracket(level);
                        continue;
                    }
                }
                while (m_in.current() != kEnd && !isNewline(m_in.current())) {
                    m_in.advance();
                }
                continue;
            case '[': {
                const int level = separator();
                if (level >= 0) {
                    longBracket(level);
                    return Token::string;
                }
                if (level == -1) {
                    return Token::openBracket;
                }
                fail(); // "[=" not followed by "[": an invalid long-bracket delimiter
            }
            case '=':
                m_in.advance();
                if (m_in.current() == '=') {
                    m_in.advance();
                    return Token::binaryOperator;
                }
                return Token::assign;
            case '<':
            case '>':
                m_in.advance();
                if (m_in.current() == '=') {
                    m_in.advance();
                }
                return Token::binaryOperator;
            case '~':
                m_in.advance();
                if (m_in.current() == '=') {
                    m_in.advance();
                    return Token::binaryOperator;
                }
                return Token::other;
            case '"':
            case '\'':
                shortString(c);
                return Token::string;
            case '.':
                // A zero byte counts as a dot here, as the compiler's character-set test has it.
                m_in.advance();
                if (m_in.current() == '.' || m_in.current() == 0) {
                    m_in.advance();
                    if (m_in.current() == '.' || m_in.current() == 0) {
                        m_in.advance();
                        return Token::expressionStart;
                    }
                    return Token::binaryOperator;
                }
                if (!isDigit(m_in.current())) {
                    return Token::dot;
                }
                number('.');
                return Token::number;
            case '{':
                m_in.advance();
                return Token::openBrace;
            case '}':
                m_in.advance();
                return Token::closeBrace;
            case ']':
                m_in.advance();
                return Token::closeBracket;
            case ',':
                m_in.advance();
                return Token::comma;
            case ';':
                m_in.advance();
                return Token::semicolon;
            case '(':
                m_in.advance();
                return Token::openParen;
            case ':':
                m_in.advance();
                return Token::colon;
            case '#':
                m_in.advance();
                return Token::expressionStart;
            case '+':
            case '*':
            case '/':
            case '%':
            case '^':
                m_in.advance();
                return Token::binaryOperator;
            default:
                if (c == ' ' || c == '\t' || c == '\v' || c == '\f') {
                    m_in.advance();
                    continue;
                }
                if (isDigit(c)) {
                    m_in.advance();
                    number(c);
                    return Token::number;
                }
                if (isAlpha(c) || c == '_') {
                    return name();
                }
                m_in.advance();
                return Token::other;
            }
        }
    }

private:
    // "\n", "\r", "\r\n" and "\n\r" are one line break each.
    void newline() {
        const int first = m_in.current();
        m_in.advance();
        if (isNewline(m_in.current()) && m_in.current() != first) {
            m_in.advance();
        }
        ++m_line;
    }

    // At "[" or "]": reads it and the "=" after it. The level when the same bracket follows
    // (left unread), else -1 - the count of "=".
    int separator() {
        const int bracket = m_in.current();
        int count = 0;
        m_in.advance();
        while (m_in.current() == '=') {
            m_in.advance();
            ++count;
        }
        return m_in.current() == bracket ? count : -count - 1;
    }

    // After "[" "="* of `level`, at the second "[": a long string or comment to its closing
    // bracket of the same level. The compiler refuses "[[" inside a level-0 bracket.
    void longBracket(int level) {
        m_in.advance();
        if (isNewline(m_in.current())) {
            newline();
        }
        for (;;) {
            // Fast path: nothing but ordinary bytes until the next bracket or line break.
            const char* rest = m_in.rest();
            std::size_t size = m_in.restSize();
            std::size_t plain = 0;
            while (plain < size && rest[plain] != ']' && rest[plain] != '[' && rest[plain] != '\n' &&
                   rest[plain] != '\r') {
                ++plain;
            }
            if (plain > 0) {
                m_in.skip(plain);
                continue;
            }
            switch (m_in.current()) {
            case kEnd:
                fail();
            case '[':
                if (separator() == level) {
                    m_in.advance();
                    if (level == 0) {
                        failWithin();
                    }
                }
                break;
            case ']':
                if (separator() == level) {
                    m_in.advance();
                    return;
                }
                break;
            default:
                newline();
                break;
            }
        }
    }

    void shortString(int delimiter) {
        m_in.advance();
        for (;;) {
            const char* rest = m_in.rest();
            std::size_t size = m_in.restSize();
            std::size_t plain = 0;
            while (plain < size && rest[plain] != delimiter && rest[plain] != '\\' && rest[plain] != '\n' &&
                   rest[plain] != '\r') {
                ++plain;
            }
            if (plain > 0) {
                m_in.skip(plain);
                continue;
            }
            const int c = m_in.current();
            if (c == delimiter) {
                m_in.advance();
                return;
            }
            if (c == kEnd || isNewline(c)) {
                fail(); // unfinished string: at the end of the text, or a raw line break
            }
            m_in.advance(); // the backslash
            const int escaped = m_in.current();
            if (isNewline(escaped)) {
                newline();
            } else if (isDigit(escaped)) {
                int value = 0;
                int digits = 0;
                do {
                    value = 10 * value + (m_in.current() - '0');
                    m_in.advance();
                } while (++digits < 3 && isDigit(m_in.current()));
                if (value > 255) {
                    failWithin();
                }
            } else if (escaped != kEnd) {
                // \a \b \f \n \r \t \v and any other byte, taken as itself.
                m_in.advance();
            }
        }
    }

    // The compiler's lexeme: digits and dots, an optional exponent mark with its sign, then any
    // letters, digits and underscores; valid only as a whole number (NumberShape).
    void number(int first) {
        NumberShape shape;
        shape.take(first);
        while (isDigit(m_in.current()) || m_in.current() == '.') {
            shape.take(m_in.current());
            m_in.advance();
        }
        if (m_in.current() == 'e' || m_in.current() == 'E' || m_in.current() == 0) {
            shape.take(m_in.current());
            m_in.advance();
            if (m_in.current() == '+' || m_in.current() == '-' || m_in.current() == 0) {
                shape.take(m_in.current());
                m_in.advance();
            }
        }
        while (isAlnum(m_in.current()) || m_in.current() == '_') {
            shape.take(m_in.current());
            m_in.advance();
        }
        if (!shape.valid()) {
            // Cut inside the number only when the text ends where more bytes could mend it.
            throw Stop{m_in.current() == kEnd && shape.viable(), m_line};
        }
    }

    Token name() {
        // Keywords are at most 8 bytes; a longer name only needs to be known as longer.
        std::array<char, 9> start{};
        std::size_t length = 0;
        while (isAlnum(m_in.current()) || m_in.current() == '_') {
            if (length < start.size()) {
                start[length] = static_cast<char>(m_in.current());
            }
            ++length;
            m_in.advance();
        }
        if (length > 8) {
            return Token::name;
        }
        const std::string_view word(start.data(), length);
        if (word == "true" || word == "false" || word == "nil") {
            return Token::valueKeyword;
        }
        if (word == "and" || word == "or") {
            return Token::binaryOperator;
        }
        if (word == "not") {
            return Token::expressionStart;
        }
        if (word == "function") {
            return Token::function;
        }
        static constexpr std::array<std::string_view, 8> kStatements{"break", "do",     "for",    "if",
                                                                     "local", "repeat", "return", "while"};
        static constexpr std::array<std::string_view, 6> kOthers{"else", "elseif", "end", "in", "then", "until"};
        for (const auto keyword : kStatements) {
            if (word == keyword) {
                return Token::statementKeyword;
            }
        }
        for (const auto keyword : kOthers) {
            if (word == keyword) {
                return Token::otherKeyword;
            }
        }
        return Token::name;
    }

    Input m_in;
    int m_line = 1;
};

// One open table constructor: whether its current entry is a `[key]` still to be closed.
struct Frame {
    bool inKey = false;
};

class Parser {
public:
    explicit Parser(const SavedVariablesReader& source) : m_lexer(source) {}

    SavedVariablesVerdict run() {
        try {
            statements();
        } catch (const Stop& stop) {
            if (!m_lexer.sawAnything()) {
                return {SavedVariablesState::empty, std::nullopt};
            }
            return {stop.atEnd ? SavedVariablesState::truncated : SavedVariablesState::malformed, stop.line,
                    stop.outsideShape};
        }
        if (!m_lexer.sawAnything()) {
            return {SavedVariablesState::empty, std::nullopt};
        }
        return {SavedVariablesState::healthy, std::nullopt};
    }

private:
    // A token where the data shape needs another: Lua beyond that shape when the compiler
    // would read on (`beyond`), else the compiler's own syntax error, at the end of the text
    // when that token is its end.
    [[noreturn]] void unexpected(Token token, bool beyond = false) const {
        throw Stop{token == Token::end, m_lexer.line(), beyond};
    }

    static bool startsExpression(Token token) {
        return token == Token::name || token == Token::expressionStart || token == Token::function ||
               token == Token::openParen || token == Token::minus || token == Token::number || token == Token::string ||
               token == Token::valueKeyword || token == Token::openBrace;
    }
    // What may follow a variable in an expression or a call statement: an index, a call, a
    // method call.
    static bool suffix(Token token) {
        return token == Token::dot || token == Token::colon || token == Token::openBracket ||
               token == Token::openParen || token == Token::string || token == Token::openBrace;
    }

    void statements() {
        Token token = m_lexer.scan();
        while (token != Token::end) {
            if (token != Token::name) {
                unexpected(token,
                           token == Token::statementKeyword || token == Token::function || token == Token::openParen);
            }
            token = m_lexer.scan();
            if (token != Token::assign) {
                // `a.b = …`, `a[1] = …`, `f(…)`, `a, b = …`.
                unexpected(token, suffix(token) || token == Token::comma);
            }
            token = value(m_lexer.scan());
            if (token == Token::semicolon) {
                token = m_lexer.scan();
            }
        }
    }

    // The compiler enters one expression level for every value and for the number after a
    // minus; a table's level stays open while its entries are read.
    void enter(std::size_t level) const {
        if (level > static_cast<std::size_t>(kSavedVariablesLevelLimit)) {
            m_lexer.failWithin();
        }
    }

    // Reads one value starting at `token`, tables included (with an explicit stack, so that no
    // nesting reaches the machine's stack), and returns the token after it.
    Token value(Token token) {
        std::vector<Frame> frames;
        enum class At { value, entry, after } at = At::value;
        for (;;) {
            switch (at) {
            case At::value:
                enter(frames.size() + 1);
                if (token == Token::minus) {
                    token = m_lexer.scan();
                    enter(frames.size() + 2);
                    if (token != Token::number) {
                        unexpected(token, startsExpression(token));
                    }
                    token = m_lexer.scan();
                    at = At::after;
                } else if (token == Token::number || token == Token::string || token == Token::valueKeyword) {
                    token = m_lexer.scan();
                    at = At::after;
                } else if (token == Token::openBrace) {
                    frames.push_back({});
                    token = m_lexer.scan();
                    at = At::entry;
                } else {
                    unexpected(token, startsExpression(token));
                }
                break;
            case At::entry: // after "{" or a separator
                if (token == Token::closeBrace) {
                    frames.pop_back();
                    token = m_lexer.scan();
                    at = At::after;
                } else if (token == Token::name) {
                    // `name = value`; a bare name would be a variable, which no saved file
                    // holds. Named where the compiler stops: at the token after it.
                    token = m_lexer.scan();
                    if (token != Token::assign) {
                        unexpected(token, suffix(token) || token == Token::binaryOperator || token == Token::minus ||
                                              token == Token::comma || token == Token::semicolon ||
                                              token == Token::closeBrace);
                    }
                    token = m_lexer.scan();
                    at = At::value;
                } else if (token == Token::openBracket) {
                    frames.back().inKey = true;
                    token = m_lexer.scan();
                    at = At::value;
                } else {
                    at = At::value;
                }
                break;
            case At::after:
                // An operator would make the value part of an expression.
                if (token == Token::binaryOperator || (token == Token::minus)) {
                    unexpected(token, true);
                }
                if (frames.empty()) {
                    if (token == Token::comma) {
                        unexpected(token, true); // `a = 1, 2`: a list of values
                    }
                    return token;
                }
                if (frames.back().inKey) {
                    frames.back().inKey = false;
                    if (token != Token::closeBracket) {
                        unexpected(token);
                    }
                    token = m_lexer.scan();
                    if (token != Token::assign) {
                        unexpected(token);
                    }
                    token = m_lexer.scan();
                    at = At::value;
                } else if (token == Token::closeBrace) {
                    frames.pop_back();
                    token = m_lexer.scan();
                } else if (token == Token::comma || token == Token::semicolon) {
                    token = m_lexer.scan();
                    at = At::entry;
                } else {
                    unexpected(token);
                }
                break;
            }
        }
    }

    Lexer m_lexer;
};

} // namespace

SavedVariablesVerdict checkSavedVariables(const SavedVariablesReader& source) {
    return Parser(source).run();
}

SavedVariablesVerdict checkSavedVariablesText(std::string_view text) {
    std::size_t offset = 0;
    const SavedVariablesReader source = [&](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min(capacity, text.size() - offset);
        std::memcpy(buffer, text.data() + offset, count);
        offset += count;
        return count;
    };
    return checkSavedVariables(source);
}

SavedVariablesVerdict checkSavedVariablesOpened(int descriptor, const std::string& path,
                                                const OperationControl* control) {
    const SavedVariablesReader source = [&](char* buffer, std::size_t capacity) {
        if (control != nullptr) {
            control->check();
        }
        const ssize_t count = sys::readSome(descriptor, buffer, capacity);
        if (count < 0) {
            throw SystemError(SystemOperation::read, path, errno);
        }
        if (control != nullptr) {
            control->addProgress(count);
        }
        return static_cast<std::size_t>(count);
    };
    return checkSavedVariables(source);
}

SavedVariablesVerdict checkSavedVariablesFile(const Path& file, const OperationControl* control) {
    FileSafety::checkPath(file);
    FileSafety::OpenedFile opened;
    if (!FileSafety::openRegularFile(file.native(), opened, SystemOperation::open, SystemOperation::examine)) {
        throw SystemError(SystemOperation::open, file.native(), ENOENT);
    }
    return checkSavedVariablesOpened(opened.descriptor.get(), file.native(), control);
}

} // namespace olvex
