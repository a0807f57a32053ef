#pragma once

// JSON as this system writes it everywhere: compact, keys in declared order, non-ASCII text
// as UTF-8, and every "/" inside a string escaped as "\/" (the form earlier releases wrote,
// so files stay byte-identical across versions). Readers accept any order and escape.
//
// Reading is where a player meets damaged files, so it is also the one place that turns the
// parser's and the record decoders' failures into Chinese: decodeFile names the file, says
// what is wrong with it, and where, without the library's English text.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/Date.h"
#include "base/Errors.h"
#include "base/Uuid.h"

namespace olvex::json {

using Json = nlohmann::ordered_json;

// The deepest nesting of arrays and objects any record needs is four (registry → record →
// digest maps → one add-on's map); the cap leaves room for keys a reader ignores while
// refusing a file of nothing but brackets before the parser builds one node per bracket.
inline constexpr int kMaxNesting = 16;

// Thrown for text that is not a valid record: malformed JSON is the parser's own error; a
// missing key, a wrong type, an unknown enumeration value, a malformed UUID or nesting deeper
// than kMaxNesting is a DecodeError whose text is a short Chinese phrase ("缺少字段“kind”").
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Refuses nesting deeper than kMaxNesting with a DecodeError, scanning the text once with
// constant memory; called by every decode before the parser sees the text.
void checkNesting(std::string_view text);

// Parses text into `Value` (the ordered form by default); throws the parser's error or the
// nesting DecodeError.
template <typename Value = Json> Value decode(std::string_view text) {
    checkNesting(text);
    return Value::parse(text.begin(), text.end());
}

std::string encode(const Json& value);

// Field access that fails the whole record when a key is missing or of the wrong type.
const Json& require(const Json& object, const char* key);
std::string requireString(const Json& object, const char* key);
Date requireDate(const Json& object, const char* key);
Uuid requireUuid(const Json& object, const char* key);

// What is wrong with a file whose text failed to decode, in Chinese, with the line and column
// and what was expected when the parser names it: "内容不完整（第 1 行第 19 列，应为带引号的文本）".
std::string damage(const std::exception& failure, std::string_view text);

// Decodes the text of one file with `fromJson` (a function of a parsed value). Any decoding
// failure becomes ManagerError(label + "已损坏：" + damage(...) + "。"), where `label` names
// the file for the player, such as "本地整合包记录“/…/.olvex-installed-packs.json”".
template <typename Value = Json, typename FromJson>
auto decodeFile(std::string_view text, const std::string& label, FromJson&& fromJson) {
    try {
        return fromJson(decode<Value>(text));
    } catch (const DecodeError& failure) {
        throw ManagerError(label + "已损坏：" + damage(failure, text) + "。");
    } catch (const nlohmann::json::exception& failure) {
        throw ManagerError(label + "已损坏：" + damage(failure, text) + "。");
    }
}

} // namespace olvex::json
