#include "Model/AuditionTimeline.h"

#include <gtest/gtest.h>

#include <limits>

namespace talvian {
namespace {

TEST(AuditionMode, RawValues) {
    EXPECT_STREQ(rawValue(AuditionMode::original), "original");
    EXPECT_STREQ(rawValue(AuditionMode::edited), "edited");
    EXPECT_EQ(auditionModeFromRaw("original"), AuditionMode::original);
    EXPECT_EQ(auditionModeFromRaw("edited"), AuditionMode::edited);
    EXPECT_EQ(auditionModeFromRaw("Edited"), std::nullopt);
    EXPECT_EQ(auditionModeFromRaw(""), std::nullopt);
}

TEST(AuditionTimeline, TicksRoundToTheSeekGrid) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::pair<double, std::int64_t> cases[] = {
        {1.5, 90000}, {1e-5, 1}, {1e-6, 0}, {0, 0}, {-2, 0}, {kNaN, 0}, {kInfinity, INT64_MAX}};
    for (const auto& [seconds, ticks] : cases) EXPECT_EQ(auditionTicks(seconds), ticks) << seconds;
    EXPECT_DOUBLE_EQ(auditionSeconds(90000), 1.5);
}

}  // namespace
}  // namespace talvian
