#include "base/Json.h"

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

std::string damage(const std::exception& failure, std::string_view text) {
    if (dynamic_cast<const DecodeError*>(&failure) != nullptr) {
        return failure.what();
    }
    std::string kind = "格式不对";
    if (const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&failure)) {
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
        // The parser reports the position it stopped at; at or past the end, the text ran out.
        kind = blank ? "文件是空的" : parse->byte >= text.size() ? "内容不完整" : "不是有效的 JSON";
    }
    return kind + "（" + failure.what() + "）";
}

} // namespace olvex::json
