#pragma once
// Text of a child process's output: lossy UTF-8 decoding and the tail a message shows.

#include <cstddef>
#include <string>
#include <string_view>

namespace talvian {

// The bytes as valid UTF-8: every ill-formed sequence (maximal subpart, as the Unicode
// standard recommends) becomes one U+FFFD, so one stray Latin-1 byte from a file's
// metadata never costs the rest of the text. Any thread.
std::string decodeLossy(std::string_view bytes);

// The last `count` user-perceived characters (extended grapheme clusters) of valid
// UTF-8 text; the whole text when it has no more. Any thread.
std::string lastCharacters(std::string_view text, std::size_t count);

}  // namespace talvian
