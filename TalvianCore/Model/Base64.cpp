#include "Base64.h"

#include <array>
#include <cstdint>

namespace talvian {

namespace {

constexpr std::int8_t kNotBase64 = -1;

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(kNotBase64);
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kDecodeTable = makeDecodeTable();

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (text.ends_with("==")) {
        padding = 2;
    } else if (text.ends_with('=')) {
        padding = 1;
    }
    const std::string_view digits = text.substr(0, text.size() - padding);
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : digits) {
        const std::int8_t value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value == kNotBase64) return std::nullopt;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    // The last character's unused low bits are zero in every encoder's output; other values
    // would let several texts stand for one key.
    if (bits > 0 && (buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
    return bytes;
}

}  // namespace talvian
