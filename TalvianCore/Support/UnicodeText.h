#pragma once
// UTF-8 text as the core meets it: bytes from anywhere (a child's output, a file name)
// decoded lossily, the one validity check, Unicode white space and line breaks as ICU
// defines them, and cuts at user-perceived characters. Every function: any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace talvian {

// One Unicode scalar read from bytes, and how many bytes it took. An ill-formed sequence
// reads as U+FFFD over its maximal subpart (as the Unicode standard recommends), so one
// stray byte never costs the text after it.
struct Utf8Scalar {
    char32_t value = 0;
    std::size_t length = 1;
    bool wellFormed = true;
};
// The scalar that starts at byte `offset` (below bytes.size()).
Utf8Scalar scalarAt(std::string_view bytes, std::size_t offset);

// The bytes as valid UTF-8: every ill-formed sequence becomes one U+FFFD, never an empty text.
std::string decodeLossy(std::string_view bytes);
// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Unicode White_Space: spaces, tabs and line breaks, the no-break and ideographic spaces included.
bool isWhiteSpace(char32_t scalar);
// A mandatory line break (LF, CR, VT, FF, NEL, line and paragraph separators).
bool isLineBreak(char32_t scalar);

// `text` without white space at either end, nor any of the ASCII characters in `alsoTrimmed`
// ("." for file names). Ill-formed bytes count as content.
std::string_view trimmed(std::string_view text, std::string_view alsoTrimmed = {});

// The first `limitBytes` bytes of valid UTF-8 text or fewer, ending at a boundary of
// user-perceived characters (extended grapheme clusters).
std::string leadingCharacters(std::string_view text, std::size_t limitBytes);
// The first `count` user-perceived characters of valid UTF-8 text; the whole text when it has
// no more.
std::string firstCharacters(std::string_view text, std::size_t count);
// The last `count` user-perceived characters of valid UTF-8 text; the whole text when it has
// no more.
std::string lastCharacters(std::string_view text, std::size_t count);

// The text on one line with nothing hidden that reorders it: control characters (C0, DEL, C1),
// bidi controls (U+061C, U+200E/F, U+202A-202E, U+2066-2069) and the line and paragraph
// separators each become U+FFFD, as do ill-formed bytes; everything else, grapheme clusters
// such as an emoji with its modifier included, stays as it is.
std::string withVisibleControls(std::string_view text);
// A file name or path as the window shows it: withVisibleControls, as one isolated run (U+2068
// FIRST STRONG ISOLATE before, U+2069 POP DIRECTIONAL ISOLATE after), so that neither the text
// around it nor its own characters can reorder or break what is read.
std::string displayedName(std::string_view nameOrPath);

}  // namespace talvian
