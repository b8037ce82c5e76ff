#pragma once
// The strict JSON reading and writing every file of ours shares (review projects, the session
// backup, manifests): sorted keys, "/" escaped as "\/", no NaN or infinity written; when read,
// no member name twice in one object and whole numbers only in integer fields. Every failure
// is a MediaError with a Chinese sentence.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Model/CoreTypes.h"
#include "Model/Uuid.h"

namespace talvian::StrictJson {

// Review projects are pretty-printed; the session backup writes the same object compactly.
enum class Style { pretty, compact };

// ---- Text ---------------------------------------------------------------------------------

// Serialised JSON with every "/" written as "\/" ("/" appears only inside strings).
std::string escapeSlashes(std::string_view json);
// Sorted keys, "/" escaped; throws MediaError for a NaN or infinite number or text that is not UTF-8.
std::string dump(const nlohmann::json& value, Style style);
// Parses JSON text; throws MediaError "项目文件不是有效的 JSON 文本。" when it is malformed, and
// "项目文件格式无效：同一对象中有重复的成员名。" when one object names a member twice (the
// library would keep the last silently, so a second "cuts" could undo every cut).
nlohmann::json parse(std::string_view bytes);

// ---- Strict readers -----------------------------------------------------------------------

// Reads the members of one JSON object. Messages name members by path ("cuts[3].start").
// Required members throw when missing or null; optional ones are absent when missing or null.
class ObjectReader {
  public:
    // Throws MediaError unless `value` is an object; `path` names it ("" for the document itself).
    ObjectReader(const nlohmann::json& value, std::string path);

    // An integer literal within signed 64 bits (5.5, 5.0, 1e30 and 2^63 are refused).
    std::int64_t int64(std::string_view key) const;
    // A finite number (integers included).
    double number(std::string_view key) const;
    bool boolean(std::string_view key) const;
    std::string string(std::string_view key) const;
    // The canonical 8-4-4-4-12 form, either case.
    Uuid uuid(std::string_view key) const;
    // An array member; its elements are read with the free readers below.
    const nlohmann::json& array(std::string_view key) const;
    ObjectReader object(std::string_view key) const;
    std::optional<double> optionalNumber(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;
    // The member, or nullptr when it is missing or null.
    const nlohmann::json* optional(std::string_view key) const;
    // "path.key", or "key" at the top.
    std::string pathOf(std::string_view key) const;

  private:
    const nlohmann::json& require(std::string_view key) const;
    const nlohmann::json& value_;
    std::string path_;
};

// The same rules for one value (array elements); `path` names it in messages.
std::int64_t readInt64(const nlohmann::json& value, const std::string& path);
double readNumber(const nlohmann::json& value, const std::string& path);
// "path[index]".
std::string elementPath(const std::string& arrayPath, std::size_t index);

}  // namespace talvian::StrictJson
