#include "records/Json.h"

namespace olvex::json {

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

Json decode(std::string_view text) {
    return Json::parse(text.begin(), text.end());
}

const Json& require(const Json& object, const char* key) {
    if (!object.is_object()) {
        throw DecodeError(std::string("expected an object holding \"") + key + "\"");
    }
    auto it = object.find(key);
    if (it == object.end()) {
        throw DecodeError(std::string("missing key \"") + key + "\"");
    }
    return *it;
}

std::string requireString(const Json& object, const char* key) {
    const Json& value = require(object, key);
    if (!value.is_string()) {
        throw DecodeError(std::string("\"") + key + "\" is not a string");
    }
    return value.get<std::string>();
}

Date requireDate(const Json& object, const char* key) {
    const Json& value = require(object, key);
    if (!value.is_number()) {
        throw DecodeError(std::string("\"") + key + "\" is not a number");
    }
    return Date{value.get<double>()};
}

Uuid requireUuid(const Json& object, const char* key) {
    auto text = requireString(object, key);
    auto id = Uuid::parse(text);
    if (!id) {
        throw DecodeError(std::string("\"") + key + "\" is not a UUID");
    }
    return *id;
}

} // namespace olvex::json
