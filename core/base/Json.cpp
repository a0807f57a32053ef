#include "base/Json.h"

#include <algorithm>
#include <utility>

namespace olvex::json {

void checkNesting(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting) {
                throw DecodeError("嵌套层数超过 " + std::to_string(kMaxNesting) + " 层");
            }
        } else if (c == ']' || c == '}') {
            // Unbalanced closers are the parser's to report.
            depth = depth > 0 ? depth - 1 : 0;
        }
    }
}

std::string encode(const Json& value) {
    std::string text = value.dump();
    // Outside strings JSON has no "/", so escaping every one escapes exactly those in strings.
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '/') {
            out += "\\/";
        } else {
            out += c;
        }
    }
    return out;
}

const Json& require(const Json& object, const char* key) {
    if (!object.is_object()) {
        throw DecodeError(std::string("应为含字段“") + key + "”的对象");
    }
    auto it = object.find(key);
    if (it == object.end()) {
        throw DecodeError(std::string("缺少字段“") + key + "”");
    }
    return *it;
}

std::string requireString(const Json& object, const char* key) {
    const Json& value = require(object, key);
    if (!value.is_string()) {
        throw DecodeError(std::string("字段“") + key + "”不是文本");
    }
    return value.get<std::string>();
}

Date requireDate(const Json& object, const char* key) {
    const Json& value = require(object, key);
    if (!value.is_number()) {
        throw DecodeError(std::string("字段“") + key + "”不是数字");
    }
    return Date{value.get<double>()};
}

Uuid requireUuid(const Json& object, const char* key) {
    auto text = requireString(object, key);
    auto id = Uuid::parse(text);
    if (!id) {
        throw DecodeError(std::string("字段“") + key + "”不是有效的 UUID");
    }
    return *id;
}

namespace {

// What the parser expected, in Chinese, from the end of its English message ("…; expected ',' or
// '}'"): the punctuation it names is kept, its words are translated. Empty when it names nothing.
std::string expectation(std::string_view message) {
    auto at = message.rfind(" expected ");
    if (at == std::string_view::npos) {
        return {}; // "unexpected …" alone names nothing that was expected
    }
    ++at;
    std::string wanted(message.substr(at + 9));
    static const std::pair<const char*, const char*> words[] = {
        {"string literal", "带引号的文本"},
        {"end of input", "文件结尾"},
        {"a literal", "值"},
        {", or ", "或"},
        {" or ", "或"},
        {", ", "、"},
    };
    for (const auto& [english, chinese] : words) {
        for (auto found = wanted.find(english); found != std::string::npos; found = wanted.find(english)) {
            wanted.replace(found, std::string_view(english).size(), chinese);
        }
    }
    return "，应为" + wanted;
}

} // namespace

std::string damage(const std::exception& failure, std::string_view text) {
    if (dynamic_cast<const DecodeError*>(&failure) != nullptr) {
        return failure.what();
    }
    const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&failure);
    if (parse == nullptr) {
        return "格式不对";
    }
    const bool blank = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (blank) {
        return "文件是空的";
    }
    // The parser reports the position it stopped at (counted from 1); at or past the end, the
    // text ran out. The line and column are counted as an editor shows them.
    const std::string kind = parse->byte >= text.size() ? "内容不完整" : "不是有效的 JSON";
    const size_t stop = std::min<size_t>(parse->byte == 0 ? 0 : parse->byte - 1, text.size());
    const std::string_view before = text.substr(0, stop);
    const size_t line = 1 + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
    const size_t lineStart = before.rfind('\n');
    const size_t column = stop - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
    return kind + "（第 " + std::to_string(line) + " 行第 " + std::to_string(column) + " 列" +
           expectation(failure.what()) + "）";
}

} // namespace olvex::json
