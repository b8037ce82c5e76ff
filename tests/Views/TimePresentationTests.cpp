#include "Views/TimePresentation.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace talvian {
namespace {

struct TimeText {
    double seconds;
    std::string text;
};

void PrintTo(const TimeText& example, std::ostream* out) {
    *out << example.seconds << " -> " << example.text;
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
// The first time whose tenths no longer fit a signed 64-bit count, and the double just below
// (its tenths, as a double, lose the last digits: 9223372036854774784).
constexpr double kTooLarge = 922337203685477632.0;
constexpr double kLargest = 922337203685477504.0;

class Duration : public ::testing::TestWithParam<TimeText> {};

TEST_P(Duration, TruncatesToWholeSecondsAndAddsHoursOnlyWhenNeeded) {
    EXPECT_EQ(TimePresentation::duration(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Examples, Duration,
                         ::testing::Values(TimeText{0, "00:00"}, TimeText{-0.0, "00:00"},
                                           TimeText{59.9, "00:59"}, TimeText{61, "01:01"},
                                           TimeText{3599.99, "59:59"}, TimeText{3600, "1:00:00"},
                                           TimeText{3661.5, "1:01:01"}, TimeText{36000, "10:00:00"},
                                           TimeText{-1, "00:00"}, TimeText{-0.4, "00:00"},
                                           TimeText{kNotANumber, "00:00"}, TimeText{kInfinity, "00:00"},
                                           TimeText{-kInfinity, "00:00"}, TimeText{kTooLarge, "00:00"},
                                           TimeText{kLargest, "256204778801521:31:44"}));

class Boundary : public ::testing::TestWithParam<TimeText> {};

TEST_P(Boundary, RoundsToTenthsHalfAwayFromZero) {
    EXPECT_EQ(TimePresentation::boundary(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Examples, Boundary,
                         ::testing::Values(TimeText{0, "00:00.0"}, TimeText{-0.0, "00:00.0"},
                                           TimeText{12.34, "00:12.3"}, TimeText{12.35, "00:12.4"},
                                           TimeText{59.96, "01:00.0"}, TimeText{0.04, "00:00.0"},
                                           TimeText{0.05, "00:00.1"}, TimeText{754.2, "12:34.2"},
                                           TimeText{3599.94, "59:59.9"}, TimeText{3599.95, "1:00:00.0"},
                                           TimeText{45296.7, "12:34:56.7"}, TimeText{-0.01, "00:00.0"},
                                           TimeText{-5, "00:00.0"}, TimeText{kNotANumber, "00:00.0"},
                                           TimeText{kInfinity, "00:00.0"}, TimeText{kTooLarge, "00:00.0"},
                                           TimeText{kLargest, "256204778801521:31:18.4"}));

}  // namespace
}  // namespace talvian
