#include "StrictJson.h"

#include <cmath>
#include <limits>
#include <unordered_set>
#include <vector>

#include "Model/Localization.h"

namespace talvian::StrictJson {

namespace {

using nlohmann::json;

[[noreturn]] void wrongType(const std::string& path) {
    throw MediaError(L("项目文件格式无效：“%@”的类型不对。", path.empty() ? L("顶层") : path));
}

[[noreturn]] void missing(const std::string& path) {
    throw MediaError(L("项目文件格式无效：缺少“%@”。", path));
}

bool hasNonFiniteNumber(const json& value) {
    switch (value.type()) {
        case json::value_t::number_float:
            return !std::isfinite(value.get<double>());
        case json::value_t::object:
        case json::value_t::array:
            for (const auto& element : value)
                if (hasNonFiniteNumber(element)) return true;
            return false;
        default:
            return false;
    }
}

}  // namespace

// ---- Text ---------------------------------------------------------------------------------

std::string escapeSlashes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '/') result += '\\';
        result += c;
    }
    return result;
}

std::string dump(const json& value, Style style) {
    // The encoder would write NaN and infinity as null, which no reader takes back as a number.
    if (hasNonFiniteNumber(value)) throw MediaError(L("数据中有无效的数值（非数字或无穷大）。"));
    try {
        // nlohmann's objects are ordered maps, so the keys come out sorted.
        return escapeSlashes(value.dump(style == Style::pretty ? 2 : -1));
    } catch (const json::type_error&) {
        throw MediaError(L("数据中有不是 UTF-8 编码的文本。"));
    }
}

json parse(std::string_view bytes) {
    // The member names seen so far in each object that is open, innermost last.
    std::vector<std::unordered_set<std::string>> open;
    auto refuseDuplicates = [&open](int, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                open.emplace_back();
                break;
            case json::parse_event_t::object_end:
                open.pop_back();
                break;
            case json::parse_event_t::key:
                if (!open.back().insert(parsed.get<std::string>()).second)
                    throw MediaError(L("项目文件格式无效：同一对象中有重复的成员名。"));
                break;
            default:
                break;
        }
        return true;
    };
    try {
        return json::parse(bytes.begin(), bytes.end(), refuseDuplicates);
    } catch (const json::exception&) {
        throw MediaError(L("项目文件不是有效的 JSON 文本。"));
    }
}

// ---- Strict readers -----------------------------------------------------------------------

std::int64_t readInt64(const json& value, const std::string& path) {
    switch (value.type()) {
        case json::value_t::number_integer:
            return value.get<std::int64_t>();
        case json::value_t::number_unsigned: {
            auto unsignedValue = value.get<std::uint64_t>();
            if (unsignedValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return static_cast<std::int64_t>(unsignedValue);
            break;
        }
        // A number with a fraction or exponent is refused even when it looks whole: its double may
        // be the rounding of a different text (2^63 + 1, 5.0000000000000001).
        case json::value_t::number_float:
            break;
        default:
            wrongType(path);
    }
    throw MediaError(L("项目文件格式无效：“%@”不是有效的整数。", path));
}

double readNumber(const json& value, const std::string& path) {
    if (!value.is_number()) wrongType(path);
    double number = value.get<double>();
    if (!std::isfinite(number)) throw MediaError(L("项目文件格式无效：“%@”不是有效的数值。", path));
    return number;
}

ObjectReader::ObjectReader(const json& value, std::string path) : value_(value), path_(std::move(path)) {
    if (!value_.is_object()) wrongType(path_);
}

std::string ObjectReader::pathOf(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
}

const json* ObjectReader::optional(std::string_view key) const {
    auto found = value_.find(key);
    if (found == value_.end() || found->is_null()) return nullptr;
    return &*found;
}

const json& ObjectReader::require(std::string_view key) const {
    const json* member = optional(key);
    if (!member) missing(pathOf(key));
    return *member;
}

std::int64_t ObjectReader::int64(std::string_view key) const {
    return readInt64(require(key), pathOf(key));
}

double ObjectReader::number(std::string_view key) const {
    return readNumber(require(key), pathOf(key));
}

bool ObjectReader::boolean(std::string_view key) const {
    const json& member = require(key);
    if (!member.is_boolean()) wrongType(pathOf(key));
    return member.get<bool>();
}

std::string ObjectReader::string(std::string_view key) const {
    const json& member = require(key);
    if (!member.is_string()) wrongType(pathOf(key));
    return member.get<std::string>();
}

Uuid ObjectReader::uuid(std::string_view key) const {
    auto parsed = Uuid::parse(string(key));
    if (!parsed) throw MediaError(L("项目文件格式无效：“%@”不是有效的标识。", pathOf(key)));
    return *parsed;
}

const json& ObjectReader::array(std::string_view key) const {
    const json& member = require(key);
    if (!member.is_array()) wrongType(pathOf(key));
    return member;
}

ObjectReader ObjectReader::object(std::string_view key) const {
    return ObjectReader(require(key), pathOf(key));
}

std::optional<double> ObjectReader::optionalNumber(std::string_view key) const {
    const json* member = optional(key);
    if (!member) return std::nullopt;
    return readNumber(*member, pathOf(key));
}

std::optional<std::string> ObjectReader::optionalString(std::string_view key) const {
    const json* member = optional(key);
    if (!member) return std::nullopt;
    if (!member->is_string()) wrongType(pathOf(key));
    return member->get<std::string>();
}

std::string elementPath(const std::string& arrayPath, std::size_t index) {
    return arrayPath + "[" + std::to_string(index) + "]";
}

}  // namespace talvian::StrictJson
