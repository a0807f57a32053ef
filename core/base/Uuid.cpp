#include "base/Uuid.h"

#include <uuid/uuid.h>

namespace olvex {

Uuid Uuid::random() {
    Uuid id;
    uuid_generate_random(id.m_bytes.data());
    return id;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    // uuid_parse accepts exactly 36 characters in 8-4-4-4-12 groups of either case.
    if (text.size() != 36) {
        return std::nullopt;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (hyphen ? c != '-' : !hex) {
            return std::nullopt;
        }
    }
    std::string copy(text);
    Uuid id;
    if (uuid_parse(copy.c_str(), id.m_bytes.data()) != 0) {
        return std::nullopt;
    }
    return id;
}

std::string Uuid::text() const {
    char buffer[37];
    uuid_unparse_upper(m_bytes.data(), buffer);
    return std::string(buffer, 36);
}

} // namespace olvex
