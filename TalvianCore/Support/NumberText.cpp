#include "NumberText.h"

#include <locale.h>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace talvian {

namespace {

// One C locale handle for the process: strtod_l does not depend on setlocale.
locale_t cLocale() {
    static const locale_t handle = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return handle;
}

}  // namespace

std::optional<double> parseDecimal(std::string_view text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
    const std::string copy(text);  // strtod needs a terminated string
    char* end = nullptr;
    const double value = strtod_l(copy.c_str(), &end, cLocale());
    if (end == copy.c_str() || end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    // from_chars takes a "-" but no "+".
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || (plus && text.front() == '-')) return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string shortestDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".eEn") == std::string::npos)  // "n": nan and inf stay as they are
        text += ".0";
    return text;
}

std::string fixedDecimal(double value, int digits) {
    char buffer[512];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
    if (result.ec != std::errc()) return {};
    return std::string(buffer, result.ptr);
}

}  // namespace talvian
