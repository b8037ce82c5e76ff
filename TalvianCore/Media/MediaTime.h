#pragma once
// Exact media times: a 64-bit count over a 32-bit timescale, as the video export places
// every cut point on the audio sample grid. Arithmetic and comparisons are exact rational
// operations; a result whose common timescale would not fit 32 bits is rounded to the
// larger of the two timescales (never silently to seconds).

#include <compare>
#include <cstdint>

namespace talvian {

struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;  // below 1: invalid

    constexpr MediaTime() = default;
    constexpr MediaTime(std::int64_t v, std::int32_t scale) : value(v), timescale(scale) {}
    static constexpr MediaTime invalid() { return {}; }
    static constexpr MediaTime zero() { return {0, 1}; }

    // Valid (a timescale of at least 1); every valid time is finite here.
    constexpr bool isNumeric() const { return timescale >= 1; }
    double seconds() const;
    // The same instant at `scale`, rounded half away from zero when it is not exact.
    MediaTime convertedTo(std::int32_t scale) const;

    // Exact comparison of numeric times (invalid times compare equal to each other and
    // below every numeric time, so sorting never traps).
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b);
    friend bool operator==(const MediaTime& a, const MediaTime& b) { return (a <=> b) == 0; }
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);
};

// [start, end) of media time.
struct MediaTimeRange {
    MediaTime start;
    MediaTime end;
    MediaTime duration() const { return end - start; }
    bool operator==(const MediaTimeRange&) const = default;
};

// Least common multiple in 64 bits; 0 when either argument is below 1.
std::int64_t leastCommonMultiple(std::int64_t a, std::int64_t b);

}  // namespace talvian
