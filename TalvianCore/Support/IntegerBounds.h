#pragma once
// The one way a double becomes an integer: checked against the integer type's range, so a
// huge, infinite or NaN value can never wrap into a wrong (often negative) number.

#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

namespace talvian {

// The integer `value` truncates to (as a cast does; round first where rounding is wanted)
// when T holds it; nothing for NaN, infinities and everything beyond T's range. Both bounds
// of T are exact in a double (zero or a power of two), so nothing is rounded on the way:
// for 64 bits, -2^63 converts and 2^63 does not. Any thread.
template <std::integral T>
std::optional<T> checkedInteger(double value) {
    constexpr double kLowest = static_cast<double>(std::numeric_limits<T>::min());
    // 2^digits, the first value above the range, built without rounding.
    constexpr double kEnd = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
    const double whole = std::trunc(value);
    if (!(whole >= kLowest && whole < kEnd)) return std::nullopt;
    return static_cast<T>(whole);
}

}  // namespace talvian
