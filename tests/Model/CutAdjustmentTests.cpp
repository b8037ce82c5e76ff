#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Model/CutAdjustment.h"
#include "Support/NumberText.h"

using namespace talvian;

TEST(CutAdjustmentState, ResolvedKeepsUntouchedPrecisionAndReadsWholeLiterals) {
    struct Case {
        const char* text;
        double original;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"12.3457", 12.345678, 12.345678},  // the field as shown: the stored bound itself
        {"12.3456", 12.345678, 12.3456},
        {" 12", 1.0, std::nullopt},
        {"12 ", 1.0, std::nullopt},
        {"12s", 1.0, std::nullopt},
        {"", 1.0, std::nullopt},
        {"1e1", 0.0, 10.0},
        {"-0.5", 0.0, -0.5},
        {"nan", 0.0, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CutAdjustmentState::resolved(c.text, c.original), c.expected) << c.text;
}

TEST(CutAdjustmentState, ValidNeedsFiniteBoundsInsideTheFileAndMoreThanTheMinimumLength) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double start, end, duration;
        bool expected;
    };
    const Case cases[] = {
        {0, 0.08, 1, false},   {0, 0.09, 1, true},   {0.5, 1.0, 1.0, true},
        {-0.1, 0.5, 1, false}, {0, 1.01, 1, false},  {nan, 0.5, 1, false},
        {0, inf, 1, false},    {0, 0.5, inf, false}, {0.6, 0.5, 1, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CutAdjustmentState::valid(c.start, c.end, c.duration), c.expected)
            << c.start << " " << c.end << " " << c.duration;
}

TEST(CutAdjustmentState, BoundariesAreListedStartThenEnd) {
    EXPECT_EQ(kAllCutBoundaries[0], CutBoundary::start);
    EXPECT_EQ(kAllCutBoundaries[1], CutBoundary::end);
}

TEST(NumberText, ShortestDecimalAlwaysHasAFractionAndReadsBack) {
    EXPECT_EQ(shortestDecimal(-35.0), "-35.0");
    EXPECT_EQ(shortestDecimal(0.8), "0.8");
    EXPECT_EQ(shortestDecimal(12.25), "12.25");
    EXPECT_EQ(shortestDecimal(3.0), "3.0");
    for (double value : {0.1 + 0.2, 1.0 / 3.0, 123456.789, 1e-7})
        EXPECT_EQ(parseDecimal(shortestDecimal(value)), value);
    EXPECT_EQ(fixedDecimal(2.0 / 3.0, 3), "0.667");
}
