#include "base/ByteCount.h"

#include <cmath>
#include <cstdio>

namespace olvex {

std::string formatByteCount(std::int64_t bytes) {
    if (bytes < 0) {
        return std::string("-").append(formatByteCount(bytes == INT64_MIN ? INT64_MAX : -bytes));
    }
    if (bytes < 1000) {
        return std::to_string(bytes) + " 字节";
    }
    static const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (value >= 999.95 && unit < 5) {
        value /= 1000.0;
        ++unit;
    }
    // Kilobytes whole, megabytes to one place, larger units to two, trailing zeros dropped.
    int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text + " " + units[unit];
}

} // namespace olvex
