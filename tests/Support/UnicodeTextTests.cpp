#include "Support/UnicodeText.h"

#include <gtest/gtest.h>

#include <string>

namespace talvian {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(UnicodeText, DecodeReplacesEachIllFormedSubpartOnceAndValidityAgrees) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"ascii", "frame=  10 fps=0.0", "frame=  10 fps=0.0"},
        {"chinese", "录音 完成", "录音 完成"},
        {"latin-1 byte in metadata", "title: caf\xE9 au lait", "title: caf" + kFFFD + " au lait"},
        {"truncated sequence before ascii",
         "\xE5\xBD"
         "x",
         kFFFD + "x"},
        {"truncated sequence at the end", "ok\xE5\xBD", "ok" + kFFFD},
        {"lone continuation bytes", "\x80\xBF", kFFFD + kFFFD},
        {"overlong two-byte form", "\xC0\xAF", kFFFD + kFFFD},
        {"overlong three-byte form", "\xE0\x80\xAF", kFFFD + kFFFD + kFFFD},
        {"surrogate", "\xED\xA0\x80", kFFFD + kFFFD + kFFFD},
        {"above U+10FFFF", "\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
        {"four-byte emoji", "\xF0\x9F\x8E\xA4", "\xF0\x9F\x8E\xA4"},
        {"invalid lead bytes", "\xF5\xFF", kFFFD + kFFFD},
        {"nul stays", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeLossy(c.bytes), c.text) << c.name;
        // Valid exactly when decoding changes nothing (a literal U+FFFD is valid text).
        EXPECT_EQ(isValidUtf8(c.bytes), c.bytes == c.text) << c.name;
    }
    EXPECT_TRUE(isValidUtf8(kFFFD));
}

TEST(UnicodeText, LastCharactersCountsUserPerceivedCharacters) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t count;
        std::string tail;
    };
    const std::string accented = "e\xCC\x81";                                   // e + combining acute
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    const std::string flag = "\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3";                // regional indicators C N
    const Case cases[] = {
        {"shorter than count", "abc", 5, "abc"},
        {"ascii", "abcdef", 2, "ef"},
        {"chinese", "处理未完成", 3, "未完成"},
        {"combining mark stays with its letter", "x" + accented + accented, 2, accented + accented},
        {"emoji sequence is one character", "ab" + family, 2, "b" + family},
        {"flag is one character", "ab" + flag, 1, flag},
        {"crlf is one character", "ab\r\n", 2, "b\r\n"},
        {"zero", "abc", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(lastCharacters(c.text, c.count), c.tail) << c.name;
}

TEST(UnicodeText, FirstCharactersCountsUserPerceivedCharacters) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t count;
        std::string head;
    };
    const std::string accented = "e\xCC\x81";                                   // e + combining acute
    const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";               // thumbs up + skin tone
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    const Case cases[] = {
        {"shorter than count", "abc", 5, "abc"},
        {"exactly count", "abc", 3, "abc"},
        {"ascii", "abcdef", 2, "ab"},
        {"chinese", "处理未完成", 2, "处理"},
        {"combining mark stays with its letter", accented + "x", 1, accented},
        {"emoji with modifier is one character", thumb + "ab", 2, thumb + "a"},
        {"emoji sequence is one character", family + "ab", 1, family},
        {"crlf is one character", "\r\nab", 2, "\r\na"},
        {"zero", "abc", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(firstCharacters(c.text, c.count), c.head) << c.name;
}

TEST(UnicodeText, LeadingCharactersKeepWholeCharactersWithinTheLimit) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t limitBytes;
        std::string head;
    };
    const std::string accented = "e\xCC\x81";  // 3 bytes, one character
    const Case cases[] = {
        {"within the limit", "abc", 3, "abc"},
        {"ascii", "abcdef", 4, "abcd"},
        {"chinese stops before a split character", "处理未完成", 7, "处理"},
        {"combining mark is not split from its letter", "a" + accented, 3, "a"},
        {"zero", "abc", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(leadingCharacters(c.text, c.limitBytes), c.head) << c.name;
}

TEST(UnicodeText, TrimmedRemovesUnicodeWhiteSpaceAtBothEndsOnly) {
    struct Case {
        const char* name;
        std::string text;
        std::string alsoTrimmed;
        std::string result;
    };
    const Case cases[] = {
        {"ascii spaces and line breaks", " \t\r\n12:30\v\f ", "", "12:30"},
        {"ideographic space", "\u30001:05\u3000", "", "1:05"},
        {"no-break and narrow no-break spaces", "\u00A0key\u202F", "", "key"},
        {"em space, NEL and line separator", "\u2003\u0085a b\u2028", "", "a b"},
        {"inner white space stays", "a\u3000b", "", "a\u3000b"},
        {"only white space", " \u3000\n", "", ""},
        {"empty", "", "", ""},
        {"zero width space is no white space", "\u200Bx", "", "\u200Bx"},
        {"dots on request", ". .名字. .", ".", "名字"},
        {"dots kept otherwise", ".名字.", "", ".名字."},
        {"ill-formed byte is content", "\xE9 ", "", "\xE9"},
    };
    for (const auto& c : cases) EXPECT_EQ(trimmed(c.text, c.alsoTrimmed), c.result) << c.name;
}

TEST(UnicodeText, WhiteSpaceAndLineBreaksFollowUnicode) {
    struct Case {
        char32_t scalar;
        bool whiteSpace;
        bool lineBreak;
    };
    const Case cases[] = {
        {U' ', true, false},  {U'\t', true, false},   {U'\n', true, true},    {U'\r', true, true},
        {U'\v', true, true},  {U'\f', true, true},    {0x85, true, true},     {0xA0, true, false},
        {0x2028, true, true}, {0x2029, true, true},   {0x3000, true, false},  {0x200B, false, false},
        {U'a', false, false}, {0x4E2D, false, false}, {0xFEFF, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isWhiteSpace(c.scalar), c.whiteSpace) << std::hex << static_cast<unsigned>(c.scalar);
        EXPECT_EQ(isLineBreak(c.scalar), c.lineBreak) << std::hex << static_cast<unsigned>(c.scalar);
    }
}

// The names a window must show as they are, on one line, and in their own order.
TEST(UnicodeText, DisplayedNameIsIsolatedOnOneLineWithControlsMadeVisible) {
    const std::string open = "\u2068", close = "\u2069";
    struct Case {
        const char* name;
        std::string text;
        std::string shown;  // between the isolate marks
    };
    const Case cases[] = {
        {"plain Chinese", "口播 第1段.mp4", "口播 第1段.mp4"},
        {"plain path", "/home/user/Videos/talk.mov", "/home/user/Videos/talk.mov"},
        {"right-to-left override", "invoice\u202Egpj.exe", "invoice" + kFFFD + "gpj.exe"},
        {"override in a folder", "/tmp/\u202Ekcab/a.mp4", "/tmp/" + kFFFD + "kcab/a.mp4"},
        {"left-to-right isolate", "a\u2066b", "a" + kFFFD + "b"},
        {"right-to-left isolate", "a\u2067b", "a" + kFFFD + "b"},
        {"first strong isolate", "a\u2068b", "a" + kFFFD + "b"},
        {"pop directional isolate", "a\u2069b.mp4", "a" + kFFFD + "b.mp4"},
        {"marks and embeddings", "\u200E\u200F\u061C\u202A\u202B\u202C\u202D",
         std::string() + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD},
        {"newline", "第一行\n第二行.wav", "第一行" + kFFFD + "第二行.wav"},
        {"carriage return and line feed", "a\r\nb", "a" + kFFFD + kFFFD + "b"},
        {"tab", "a\tb.mp3", "a" + kFFFD + "b.mp3"},
        {"delete and a C1 control", "a\x7F\u0085b", "a" + kFFFD + kFFFD + "b"},
        {"line and paragraph separators", "a\u2028b\u2029c", "a" + kFFFD + "b" + kFFFD + "c"},
        {"emoji with a skin-tone modifier", "\U0001F44B\U0001F3FD讲话.mp4", "\U0001F44B\U0001F3FD讲话.mp4"},
        {"joined emoji and a variation selector", "\U0001F469\u200D\U0001F4BB\u2764\uFE0F",
         "\U0001F469\u200D\U0001F4BB\u2764\uFE0F"},
        {"ill-formed bytes",
         "a\xFF\xC3"
         "b",
         "a" + kFFFD + kFFFD + "b"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(displayedName(c.text), open + c.shown + close) << c.name;
}

}  // namespace
}  // namespace talvian
