#pragma once
// Standard base64 (RFC 4648 §4: "+" and "/", "=" padding) for the keys and signatures that
// arrive as text. Pure; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace talvian {

// The bytes the text encodes, or none unless it is canonical standard base64: a length that is
// a multiple of four, only the alphabet's characters, "=" only as the last one or two, and
// zero bits where the last character carries fewer than six. White space is not skipped:
// callers trim first. The empty text encodes no bytes.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace talvian
