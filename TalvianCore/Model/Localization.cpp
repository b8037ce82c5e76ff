#include "Localization.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

namespace talvian {

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

// The table is read once, on first use; a missing or unreadable table leaves every
// key as its own text, which is the Chinese text the user should see anyway. It is never
// destroyed: a thread its caller stopped waiting for (a media load abandoned on a cancel) may
// still build its sentence while exit() runs the static destructors.
const Table& table() {
    static const Table& kept = *new Table([] {
        Table entries;
        std::ifstream file(resourcesFolder() / "Localizable.json", std::ios::binary);
        if (!file) return entries;
        auto json = nlohmann::json::parse(file, nullptr, /*allow_exceptions=*/false);
        if (!json.is_object()) return entries;
        for (auto& [key, value] : json.items())
            if (value.is_string()) entries.emplace(key, value.get<std::string>());
        return entries;
    }());
    return kept;
}

std::string lookUp(std::string_view key) {
    const auto& entries = table();
    auto found = entries.find(key);
    return found == entries.end() ? std::string(key) : found->second;
}

std::string formatNumber(const std::string& spec, const LArgument& argument) {
    // snprintf formats with the C locale's point: the process never changes LC_NUMERIC
    // away from "C" (the application sets it back after Qt starts).
    char buffer[128];
    char conversion = spec.back();
    bool floating = conversion == 'f' || conversion == 'g' || conversion == 'e' || conversion == 'F' ||
                    conversion == 'G' || conversion == 'E';
    if (floating) {
        double value = 0;
        if (auto* d = std::get_if<double>(&argument)) value = *d;
        if (auto* i = std::get_if<long long>(&argument)) value = static_cast<double>(*i);
        std::string format = "%";
        for (char c : spec)
            if (c != 'l' && c != 'L') format.push_back(c);
        std::snprintf(buffer, sizeof buffer, format.c_str(), value);
        return buffer;
    }
    long long value = 0;
    if (auto* i = std::get_if<long long>(&argument)) value = *i;
    if (auto* d = std::get_if<double>(&argument)) value = static_cast<long long>(*d);
    std::string format = "%";
    for (char c : spec)
        if (c != 'l' && c != 'q' && c != 'z' && c != 'h') format.push_back(c);
    format.insert(format.size() - 1, "ll");
    if (conversion == 'u')
        std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<unsigned long long>(value));
    else
        std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return buffer;
}

std::string textOf(const LArgument& argument) {
    if (auto* text = std::get_if<std::string>(&argument)) return *text;
    if (auto* i = std::get_if<long long>(&argument)) return std::to_string(*i);
    return formatNumber("g", argument);
}

}  // namespace

const std::filesystem::path& executableFolder() {
    static const std::filesystem::path folder = [] {
        std::error_code error;
        auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) return std::filesystem::current_path(error);
        return exe.parent_path();
    }();
    return folder;
}

const std::filesystem::path& resourcesFolder() {
    static const std::filesystem::path folder = [] {
        auto exe = executableFolder();
        std::error_code error;
        if (std::filesystem::is_directory(exe / "Resources", error)) return exe / "Resources";
        return (exe / ".." / "share" / "talvian").lexically_normal();
    }();
    return folder;
}

std::string L(std::string_view key) {
    return lookUp(key);
}

std::string L(std::string_view key, const std::vector<LArgument>& arguments) {
    std::string format = lookUp(key);
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out.push_back(format[i]);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        // Optional position "N$".
        std::size_t position = 0;
        std::size_t k = j;
        while (k < format.size() && format[k] >= '0' && format[k] <= '9')
            position = position * 10 + static_cast<std::size_t>(format[k++] - '0');
        if (k < format.size() && format[k] == '$' && position > 0) {
            j = k + 1;
        } else {
            position = 0;
        }
        std::string spec;
        while (j < format.size() &&
               std::string_view("-+ #0123456789.lqzh").find(format[j]) != std::string_view::npos)
            spec.push_back(format[j++]);
        if (j >= format.size()) {
            out.append(format, i, std::string::npos);
            break;
        }
        char conversion = format[j];
        std::size_t index = position > 0 ? position - 1 : next++;
        const LArgument empty = std::string();
        const LArgument& argument = index < arguments.size() ? arguments[index] : empty;
        if (conversion == '@' || conversion == 's') {
            out += textOf(argument);
        } else if (std::string_view("dioxXufFeEgG").find(conversion) != std::string_view::npos) {
            out += formatNumber(spec + conversion, argument);
        } else {
            out.append(format, i, j - i + 1);
        }
        i = j;
    }
    return out;
}

}  // namespace talvian
