#pragma once
// ASCII character classes for texts whose format is ASCII (addresses, version numbers,
// machine names), independent of the process locale. Any thread.

namespace talvian {

constexpr bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool isAsciiAlphanumeric(char c) {
    return isAsciiDigit(c) || isAsciiLetter(c);
}
constexpr bool isHexDigit(char c) {
    return isAsciiDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace talvian
