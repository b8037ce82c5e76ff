#include "UnicodeText.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <memory>

namespace talvian {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr char32_t kReplacementScalar = 0xFFFD;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

// A break iterator over user-perceived characters of UTF-8 text; its offsets are byte
// offsets. Holds nothing when ICU lacks its data.
class CharacterBreaks {
  public:
    explicit CharacterBreaks(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        text_.reset(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
        iterator_.reset(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
        if (U_SUCCESS(status)) ubrk_setUText(iterator_.get(), text_.get(), &status);
        usable_ = U_SUCCESS(status);
    }
    bool usable() const { return usable_; }
    UBreakIterator* get() const { return iterator_.get(); }

  private:
    std::unique_ptr<UText, TextCloser> text_;
    std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator_;
    bool usable_ = false;
};

}  // namespace

Utf8Scalar scalarAt(std::string_view bytes, std::size_t offset) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(offset);
    if (lead < 0x80) return {lead, 1, true};
    std::size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {kReplacementScalar, 1, false};
    }
    std::size_t valid = 1;
    for (; valid < length; ++valid) {
        const std::size_t k = offset + valid;
        if (k >= bytes.size()) break;
        const unsigned char byte = at(k);
        const bool ok = valid == 1 ? byte >= low && byte <= high : isContinuation(byte);
        if (!ok) break;
        value = (value << 6) | (byte & 0x3F);
    }
    if (valid != length) return {kReplacementScalar, valid, false};
    return {value, length, true};
}

std::string decodeLossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto scalar = scalarAt(bytes, i);
        if (scalar.wellFormed)
            text.append(bytes.substr(i, scalar.length));
        else
            text.append(kReplacement);
        i += scalar.length;
    }
    return text;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto scalar = scalarAt(bytes, i);
        if (!scalar.wellFormed) return false;
        i += scalar.length;
    }
    return true;
}

bool isWhiteSpace(char32_t scalar) {
    return u_isUWhiteSpace(static_cast<UChar32>(scalar));
}

bool isLineBreak(char32_t scalar) {
    switch (u_getIntPropertyValue(static_cast<UChar32>(scalar), UCHAR_LINE_BREAK)) {
        case U_LB_MANDATORY_BREAK:
        case U_LB_CARRIAGE_RETURN:
        case U_LB_LINE_FEED:
        case U_LB_NEXT_LINE:
            return true;
        default:
            return false;
    }
}

std::string_view trimmed(std::string_view text, std::string_view alsoTrimmed) {
    const auto trims = [&](const Utf8Scalar& scalar) {
        if (!scalar.wellFormed) return false;
        if (scalar.value < 0x80 &&
            alsoTrimmed.find(static_cast<char>(scalar.value)) != std::string_view::npos)
            return true;
        return isWhiteSpace(scalar.value);
    };
    std::size_t from = text.size(), to = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto scalar = scalarAt(text, i);
        if (!trims(scalar)) {
            if (from == text.size()) from = i;
            to = i + scalar.length;
        }
        i += scalar.length;
    }
    return from < to ? text.substr(from, to - from) : std::string_view();
}

std::string leadingCharacters(std::string_view text, std::size_t limitBytes) {
    if (text.size() <= limitBytes) return std::string(text);
    std::size_t end = 0;
    if (const CharacterBreaks breaks(text); breaks.usable()) {
        for (auto boundary = ubrk_next(breaks.get());
             boundary != UBRK_DONE && static_cast<std::size_t>(boundary) <= limitBytes;
             boundary = ubrk_next(breaks.get()))
            end = static_cast<std::size_t>(boundary);
    } else {
        // Without ICU's data, whole scalars.
        for (std::size_t i = 0; i < text.size();) {
            const auto length = scalarAt(text, i).length;
            if (i + length > limitBytes) break;
            i += length;
            end = i;
        }
    }
    return std::string(text.substr(0, end));
}

std::string firstCharacters(std::string_view text, std::size_t count) {
    if (text.size() <= count) return std::string(text);  // never more characters than bytes
    std::size_t end = 0;
    if (const CharacterBreaks breaks(text); breaks.usable()) {
        for (std::size_t taken = 0; taken < count; ++taken) {
            const int32_t next = ubrk_next(breaks.get());
            if (next == UBRK_DONE) return std::string(text);
            end = static_cast<std::size_t>(next);
        }
    } else {
        // Without ICU's data, whole scalars.
        for (std::size_t taken = 0; taken < count && end < text.size(); ++taken)
            end += scalarAt(text, end).length;
    }
    return std::string(text.substr(0, end));
}

std::string lastCharacters(std::string_view text, std::size_t count) {
    if (text.size() <= count) return std::string(text);  // never more characters than bytes
    const CharacterBreaks breaks(text);
    if (!breaks.usable()) return std::string(text);
    int32_t boundary = ubrk_last(breaks.get());
    for (std::size_t taken = 0; taken < count; ++taken) {
        const int32_t previous = ubrk_previous(breaks.get());
        if (previous == UBRK_DONE) return std::string(text);
        boundary = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(boundary)));
}

std::string withVisibleControls(std::string_view text) {
    const std::string valid = decodeLossy(text);
    std::string shown;
    shown.reserve(valid.size());
    for (std::size_t offset = 0; offset < valid.size();) {
        const Utf8Scalar scalar = scalarAt(valid, offset);
        const auto value = static_cast<UChar32>(scalar.value);
        const auto type = static_cast<UCharCategory>(u_charType(value));
        // A control character would break the line or draw as nothing; a bidi control would
        // let a name reorder what follows it (a reversed extension); both are shown as one
        // visible mark a reader takes for "a character that cannot be shown here".
        const bool hidden = type == U_CONTROL_CHAR || type == U_LINE_SEPARATOR ||
                            type == U_PARAGRAPH_SEPARATOR || u_hasBinaryProperty(value, UCHAR_BIDI_CONTROL);
        if (hidden)
            shown += kReplacement;
        else
            shown.append(valid, offset, scalar.length);
        offset += scalar.length;
    }
    return shown;
}

std::string displayedName(std::string_view nameOrPath) {
    return "\u2068" + withVisibleControls(nameOrPath) + "\u2069";
}

}  // namespace talvian
