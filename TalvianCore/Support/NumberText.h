#pragma once
// Numbers as text, always in the C locale whatever the process locale is.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvian {

// The whole text read as a decimal floating-point literal (sign, fraction, exponent,
// "inf"/"nan" as strtod reads them). Leading white space or any character left over
// gives no value. The result may be non-finite; callers that need finite values check.
std::optional<double> parseDecimal(std::string_view text);

// The whole text read as a decimal integer with at most one leading "+" or "-"; no white
// space, no fraction, nothing outside 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text);

// The shortest decimal text that reads back to the same double, always with a fractional
// part: -35.0, 0.8, 12.25, 1e+20 stays exponent form. Used for child-process arguments.
std::string shortestDecimal(double value);

// printf-style fixed notation with a point and no grouping ("%.3f" → digits = 3).
std::string fixedDecimal(double value, int digits);

}  // namespace talvian
