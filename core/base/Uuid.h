#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace olvex {

// A UUID value. Its text is always the canonical upper-case hyphenated form; parsing accepts
// either letter case, as names on disk may have been written by hand.
class Uuid {
public:
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);
    static bool isValid(std::string_view text) { return parse(text).has_value(); }

    std::string text() const;
    const std::array<std::uint8_t, 16>& bytes() const { return m_bytes; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> m_bytes{};
};

} // namespace olvex
