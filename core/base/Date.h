#pragma once

#include <chrono>
#include <compare>

namespace olvex {

// A point in time as stored on disk: seconds since 2001-01-01T00:00:00Z with fraction. Kept
// as that double in memory too, so that a record read back from JSON equals the record that
// was written (a finer clock would not survive the round trip).
struct Date {
    double sinceReference = 0;

    static constexpr double referenceToUnix = 978307200.0;

    static Date now();
    static Date fromUnix(double unixSeconds) { return Date{unixSeconds - referenceToUnix}; }
    double unixSeconds() const { return sinceReference + referenceToUnix; }

    friend bool operator==(const Date&, const Date&) = default;
    friend auto operator<=>(const Date&, const Date&) = default;
};

} // namespace olvex
