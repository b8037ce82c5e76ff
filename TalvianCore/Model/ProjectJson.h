#pragma once
// The review project as a JSON document, and the strict JSON reading and writing that every
// file of ours shares: sorted keys, "/" escaped as "\/", no NaN or infinity written, whole
// numbers only in integer fields. Every failure is a MediaError with a Chinese sentence.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "CutProject.h"
#include "Uuid.h"

namespace talvian {

namespace ProjectJson {

// Review projects are pretty-printed; the session backup writes the same object compactly.
enum class Style { pretty, compact };

// ---- Review projects --------------------------------------------------------------------

// The project's document bytes. Runs validateStructure() first, so nothing is written that the
// reader would refuse; throws MediaError "无法写入剪辑项目：<reason>" on any failure.
std::string encode(const CutProject& project, Style style = Style::pretty);
// The compact document written directly (no JSON tree), without validation: the session
// backup rewrites it after every edit. The tree writer's compact document, numbers shortest.
std::string encodeCompactDocument(const CutProject& project);
// A project from document bytes, strictly (missing or null required keys, wrong types, inexact
// integers, unknown modes, malformed UUIDs and JSON refused). Does not validate the structure.
CutProject decode(std::string_view bytes);

// The JSON object of a project, without validation (for writers that nest it in another object).
nlohmann::json toJson(const CutProject& project);
// A project from a parsed JSON object, strictly as decode(); `path` prefixes member names in messages.
CutProject fromJson(const nlohmann::json& value, const std::string& path = {});

// ---- Shared JSON text -------------------------------------------------------------------

// Serialised JSON with every "/" written as "\/" ("/" appears only inside strings).
std::string escapeSlashes(std::string_view json);
// Sorted keys, "/" escaped; throws MediaError for a NaN or infinite number or text that is not UTF-8.
std::string dump(const nlohmann::json& value, Style style);
// Parses JSON text; throws MediaError "项目文件不是有效的 JSON 文本。" when it is malformed.
nlohmann::json parse(std::string_view bytes);

// ---- Strict readers ---------------------------------------------------------------------

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

}  // namespace ProjectJson

}  // namespace talvian
