#include "Support/NumberText.h"

#include <gtest/gtest.h>

namespace talvian {
namespace {

TEST(NumberText, IntegersReadWholeAndSignedOnce) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    for (auto c : std::vector<Case>{{"48000", 48000},
                                    {"+25", 25},
                                    {"-7", -7},
                                    {"9223372036854775807", INT64_MAX},
                                    {"9223372036854775808", std::nullopt},
                                    {"", std::nullopt},
                                    {"+", std::nullopt},
                                    {"+-5", std::nullopt},
                                    {"++5", std::nullopt},
                                    {" 5", std::nullopt},
                                    {"5 ", std::nullopt},
                                    {"5.0", std::nullopt},
                                    {"0x10", std::nullopt}}) {
        EXPECT_EQ(parseInteger(c.text), c.value) << c.text;
    }
}

}  // namespace
}  // namespace talvian
