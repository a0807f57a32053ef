#pragma once

// JSON as this system writes it everywhere: compact, keys in declared order, non-ASCII text
// as UTF-8, and every "/" inside a string escaped as "\/" (the form earlier releases wrote,
// so files stay byte-identical across versions). Readers accept any order and escape.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "records/Date.h"
#include "records/Uuid.h"

namespace olvex::json {

using Json = nlohmann::ordered_json;

std::string encode(const Json& value);
// Parses text; a syntax error throws the library's parse_error with its own text.
Json decode(std::string_view text);

// Field access that fails the whole record when a key is missing or of the wrong type.
const Json& require(const Json& object, const char* key);
std::string requireString(const Json& object, const char* key);
Date requireDate(const Json& object, const char* key);
Uuid requireUuid(const Json& object, const char* key);

// Thrown for a record that is well-formed JSON but not a valid record (missing key, wrong
// type, unknown enumeration value, malformed UUID). Its text is the decoder's, in English
// like the library's own errors; it is shown only inside composed messages.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace olvex::json
