#pragma once
// Localised texts and the application's resource folder.
//
// Every user-facing text passes through L. Keys are the Simplified Chinese texts
// themselves, so a key missing from the "Localizable" table shows as itself.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace talvian {

// One format argument of L: "%@" takes text, integer and floating placeholders numbers.
using LArgument = std::variant<std::string, long long, double>;

// The folder that holds the running executable (the working folder when it cannot be read).
// Any thread; computed once.
const std::filesystem::path& executableFolder();
// <folder of the executable>/Resources, else <folder of the executable>/../share/talvian
// (the installed layout). Any thread; computed once.
const std::filesystem::path& resourcesFolder();

// Looks the key up in Resources/Localizable.json; without arguments the text is returned
// as it stands ("%" stays literal).
std::string L(std::string_view key);
// Formats the looked-up text printf-style: "%@" (text), "%d"/"%ld"/"%lld"/"%u" (integers),
// "%f"/"%.1f"/"%g" (numbers, always with a point), "%%", positions as "%1$@".
std::string L(std::string_view key, const std::vector<LArgument>& arguments);

template <class... Args>
requires(sizeof...(Args) > 0) std::string L(std::string_view key, const Args&... args) {
    auto convert = [](const auto& value) -> LArgument {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_floating_point_v<T>)
            return static_cast<double>(value);
        else if constexpr (std::is_integral_v<T>)
            return static_cast<long long>(value);
        else
            return std::string(value);
    };
    return L(key, std::vector<LArgument>{convert(args)...});
}

}  // namespace talvian
