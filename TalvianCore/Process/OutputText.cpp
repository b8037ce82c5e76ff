#include "OutputText.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <memory>

namespace talvian {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed sequence starting at `i`, or the length of its maximal
// subpart negated (at least 1) when it is ill-formed.
long sequenceAt(std::string_view bytes, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80) return 1;
    long length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return -1;
    }
    long valid = 1;
    for (; valid < length; ++valid) {
        const std::size_t k = i + static_cast<std::size_t>(valid);
        if (k >= bytes.size()) break;
        const unsigned char byte = at(k);
        const bool ok = valid == 1 ? byte >= low && byte <= high : isContinuation(byte);
        if (!ok) break;
    }
    return valid == length ? length : -valid;
}

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

}  // namespace

std::string decodeLossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const long length = sequenceAt(bytes, i);
        if (length > 0) {
            text.append(bytes.substr(i, static_cast<std::size_t>(length)));
            i += static_cast<std::size_t>(length);
        } else {
            text.append(kReplacement);
            i += static_cast<std::size_t>(-length);
        }
    }
    return text;
}

std::string lastCharacters(std::string_view text, std::size_t count) {
    if (text.size() <= count) return std::string(text);  // never more characters than bytes
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, TextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<UBreakIterator, BreakIteratorCloser> characters(
        ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
    if (U_FAILURE(status)) return std::string(text);
    ubrk_setUText(characters.get(), utext.get(), &status);
    if (U_FAILURE(status)) return std::string(text);
    // Offsets of UText over UTF-8 are byte offsets.
    int32_t boundary = ubrk_last(characters.get());
    for (std::size_t taken = 0; taken < count; ++taken) {
        const int32_t previous = ubrk_previous(characters.get());
        if (previous == UBRK_DONE) return std::string(text);
        boundary = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(boundary)));
}

}  // namespace talvian
