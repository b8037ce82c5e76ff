#include "MediaTime.h"

#include <limits>
#include <numeric>

namespace talvian {

namespace {

__extension__ typedef __int128 Wide;

// Rounds numerator / denominator half away from zero (denominator > 0).
Wide roundedQuotient(Wide numerator, Wide denominator) {
    Wide quotient = numerator / denominator;
    Wide remainder = numerator % denominator;
    if (remainder < 0) remainder = -remainder;
    if (remainder * 2 >= denominator) quotient += numerator < 0 ? -1 : 1;
    return quotient;
}

std::int64_t clamped(Wide value) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto highest = std::numeric_limits<std::int64_t>::max();
    if (value < lowest) return lowest;
    if (value > highest) return highest;
    return static_cast<std::int64_t>(value);
}

std::int32_t commonTimescale(std::int32_t a, std::int32_t b) {
    std::int64_t lcm = leastCommonMultiple(a, b);
    if (lcm <= std::numeric_limits<std::int32_t>::max()) return static_cast<std::int32_t>(lcm);
    return a > b ? a : b;
}

}  // namespace

std::int64_t leastCommonMultiple(std::int64_t a, std::int64_t b) {
    if (a < 1 || b < 1) return 0;
    return a / std::gcd(a, b) * b;
}

double MediaTime::seconds() const {
    if (!isNumeric()) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(value) / timescale;
}

MediaTime MediaTime::convertedTo(std::int32_t scale) const {
    if (!isNumeric() || scale < 1) return invalid();
    if (scale == timescale) return *this;
    return {clamped(roundedQuotient(static_cast<Wide>(value) * scale, timescale)), scale};
}

std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    if (!a.isNumeric() || !b.isNumeric()) return a.isNumeric() <=> b.isNumeric();
    return static_cast<Wide>(a.value) * b.timescale <=> static_cast<Wide>(b.value) * a.timescale;
}

MediaTime operator+(const MediaTime& a, const MediaTime& b) {
    if (!a.isNumeric() || !b.isNumeric()) return MediaTime::invalid();
    std::int32_t scale = commonTimescale(a.timescale, b.timescale);
    MediaTime x = a.convertedTo(scale), y = b.convertedTo(scale);
    return {clamped(static_cast<Wide>(x.value) + y.value), scale};
}

MediaTime operator-(const MediaTime& a, const MediaTime& b) {
    if (!a.isNumeric() || !b.isNumeric()) return MediaTime::invalid();
    std::int32_t scale = commonTimescale(a.timescale, b.timescale);
    MediaTime x = a.convertedTo(scale), y = b.convertedTo(scale);
    return {clamped(static_cast<Wide>(x.value) - y.value), scale};
}

}  // namespace talvian
