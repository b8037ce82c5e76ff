#include "Process/OutputText.h"

#include <gtest/gtest.h>

#include <string>

namespace talvian {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(OutputText, DecodeReplacesEachIllFormedSubpartOnce) {
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
    for (const auto& c : cases) EXPECT_EQ(decodeLossy(c.bytes), c.text) << c.name;
}

TEST(OutputText, LastCharactersCountsUserPerceivedCharacters) {
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

}  // namespace
}  // namespace talvian
