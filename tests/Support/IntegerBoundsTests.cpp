#include "Support/IntegerBounds.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace talvian {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kTwoTo63 = 9223372036854775808.0;

TEST(IntegerBounds, SixtyFourBitsTakeExactlyTheirRange) {
    struct Case {
        double value;
        std::optional<std::int64_t> result;
    };
    const std::vector<Case> cases = {
        {kNaN, std::nullopt},
        {kInfinity, std::nullopt},
        {-kInfinity, std::nullopt},
        {1e300, std::nullopt},
        {-1e300, std::nullopt},
        {kTwoTo63, std::nullopt},
        // The largest double below 2^63.
        {std::nextafter(kTwoTo63, 0.0), INT64_C(9223372036854774784)},
        {-kTwoTo63, INT64_MIN},
        {std::nextafter(-kTwoTo63, -kInfinity), std::nullopt},
        {0.0, 0},
        {-0.0, 0},
        {2.9, 2},
        {-2.9, -2},
        {48000.0, 48000},
    };
    for (const auto& c : cases) EXPECT_EQ(checkedInteger<std::int64_t>(c.value), c.result) << c.value;
}

TEST(IntegerBounds, NarrowAndUnsignedTypesTakeTheirOwnRange) {
    EXPECT_EQ(checkedInteger<std::int32_t>(2147483647.0), INT32_MAX);
    EXPECT_EQ(checkedInteger<std::int32_t>(2147483647.9), INT32_MAX);
    EXPECT_EQ(checkedInteger<std::int32_t>(2147483648.0), std::nullopt);
    EXPECT_EQ(checkedInteger<std::int32_t>(-2147483648.0), INT32_MIN);
    EXPECT_EQ(checkedInteger<std::int32_t>(-2147483648.9), INT32_MIN);
    EXPECT_EQ(checkedInteger<std::int32_t>(-2147483649.0), std::nullopt);
    EXPECT_EQ(checkedInteger<std::int32_t>(kNaN), std::nullopt);
    EXPECT_EQ(checkedInteger<std::uint64_t>(-1.0), std::nullopt);
    EXPECT_EQ(checkedInteger<std::uint64_t>(-0.5), 0u);
    EXPECT_EQ(checkedInteger<std::uint64_t>(18446744073709549568.0), UINT64_C(18446744073709549568));
    EXPECT_EQ(checkedInteger<std::uint64_t>(18446744073709551616.0), std::nullopt);
}

}  // namespace
}  // namespace talvian
