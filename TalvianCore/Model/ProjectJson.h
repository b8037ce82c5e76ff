#pragma once
// The review project as a JSON document, read and written through the strict JSON layer
// (StrictJson.h). Every failure is a MediaError with a Chinese sentence.

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "CutProject.h"
#include "Support/StrictJson.h"

namespace talvian {

namespace ProjectJson {

// Review projects are pretty-printed; the session backup writes the same object compactly.
using Style = StrictJson::Style;

// ---- Review projects --------------------------------------------------------------------

// The project's document bytes. Runs validateStructure() first, so nothing is written that the
// reader would refuse; throws MediaError "无法写入剪辑项目：<reason>" on any failure.
std::string encode(const CutProject& project, Style style = Style::pretty);
// The compact document written directly (no JSON tree), without validation: the session
// backup rewrites it after every edit. The tree writer's compact document, numbers shortest.
std::string encodeCompactDocument(const CutProject& project);
// A project from document bytes, strictly (missing or null required keys, a member named twice,
// wrong types, inexact integers, unknown modes, malformed UUIDs, a source the system cannot
// name (isNamablePath) and malformed JSON refused). Does not validate the structure.
CutProject decode(std::string_view bytes);

// The JSON object of a project, without validation (for writers that nest it in another object).
nlohmann::json toJson(const CutProject& project);
// A project from a parsed JSON object, strictly as decode(); `path` prefixes member names in messages.
CutProject fromJson(const nlohmann::json& value, const std::string& path = {});

}  // namespace ProjectJson

}  // namespace talvian
