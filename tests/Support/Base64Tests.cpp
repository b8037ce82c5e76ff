#include "Support/Base64.h"

#include <gtest/gtest.h>

namespace talvian {
namespace {

TEST(Base64, DecodesOnlyCanonicalStandardText) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"", ""},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {"Zm9v", "foo"},
        {"Zm9vYmFy", "foobar"},
        {"+/+/", "\xfb\xff\xbf"},
        {"AAAA", std::string(3, '\0')},
        // Unpadded, the URL-safe alphabet, white space: not the standard form.
        {"Zg", std::nullopt},
        {"Zm8", std::nullopt},
        {"-_-_", std::nullopt},
        {"Zm9v\n", std::nullopt},
        {" Zm9v", std::nullopt},
        {"Zm 9v", std::nullopt},
        // Padding anywhere but at the end, or too much of it.
        {"Zg==Zm9v", std::nullopt},
        {"Z===", std::nullopt},
        {"====", std::nullopt},
        {"=Zm9", std::nullopt},
        // Bits the last character carries beyond the bytes must be zero.
        {"Zh==", std::nullopt},
        {"Zm9=", std::nullopt},
        {"Zm9v\xff\xff\xff\xff", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(decodeBase64(text), expected) << text;
}

}  // namespace
}  // namespace talvian
