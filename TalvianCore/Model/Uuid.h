#pragma once
// A random (version 4) UUID as a 16-byte value, printed in the canonical
// upper-case 8-4-4-4-12 form that review projects store.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvian {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A fresh random UUID (getrandom); any thread.
    static Uuid random();
    // Parses the canonical 8-4-4-4-12 form, either case; absent on any other text.
    static std::optional<Uuid> parse(std::string_view text);
    // "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", upper case.
    std::string string() const;

    auto operator<=>(const Uuid&) const = default;
};

}  // namespace talvian
