#include "Media/MediaTiming.h"

#include <gtest/gtest.h>

#include "MediaTestSupport.h"

#include <cmath>
#include <limits>

#include "Media/MediaTime.h"
#include "Model/CoreTypes.h"

namespace talvian {
namespace {

TEST(MediaTiming, SampleTimescaleAcceptsOnlyIntegralRatesInRange) {
    struct Case {
        std::optional<double> rate;
        std::optional<std::int32_t> expected;
        const char* message;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {44100.0, 44100, ""},
        {48000.0000004, 48000, ""},
        {768000.0, 768000, ""},
        {1.0, 1, ""},
        {44099.5, std::nullopt, "视频音轨的采样率暂不支持精确剪辑。"},
        {768001.0, std::nullopt, "视频音轨的采样率暂不支持精确剪辑。"},
        {0.5, std::nullopt, "视频音轨的采样率暂不支持精确剪辑。"},
        {nan, std::nullopt, "视频音轨的采样率暂不支持精确剪辑。"},
        {std::numeric_limits<double>::infinity(), std::nullopt, "视频音轨的采样率暂不支持精确剪辑。"},
        {std::nullopt, std::nullopt, "无法读取视频音轨的采样率。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate ? std::to_string(*c.rate) : "absent");
        if (c.expected)
            EXPECT_EQ(MediaTiming::sampleTimescale(c.rate), *c.expected);
        else
            EXPECT_EQ(test::messageOf([&] { MediaTiming::sampleTimescale(c.rate); }), c.message);
    }
}

TEST(MediaTiming, RangeRoundsHalfAwayFromZeroOntoTheSampleGrid) {
    struct Case {
        double start, end;
        std::int64_t startSample, endSample;
    };
    const Case cases[] = {
        {1.0, 1.00002, 48000, 48001}, {-0.00001, 1.0, 0, 48000},  // a negative zero is sample 0
        {0.5 / 48000, 1.0, 1, 48000},                             // half a sample rounds up
        {0.05, 1.0, 2400, 48000},     {1.03, 2.0, 49440, 96000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " … " + std::to_string(c.end));
        MediaTimeRange range = MediaTiming::range(c.start, c.end, 48000);
        EXPECT_EQ(range.start.value, c.startSample);
        EXPECT_EQ(range.end.value, c.endSample);
        EXPECT_EQ(range.start.timescale, 48000);
        EXPECT_EQ(range.end.timescale, 48000);
    }
}

TEST(MediaTiming, RangeRefusalsInTheirOrder) {
    struct Case {
        double start, end;
        std::int32_t rate;
        const char* message;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {0, 1, 0, "音频采样率无效。"},
        {2, 1, 0, "音频采样率无效。"},
        {2, 2, 48000, "剪辑区间必须保留有效时长。"},
        {3, 2, 48000, "剪辑区间必须保留有效时长。"},
        {nan, 2, 48000, "剪辑区间必须保留有效时长。"},
        {1, nan, 48000, "剪辑区间必须保留有效时长。"},
        {-0.001, 1, 48000, "剪辑时间超出可处理范围。"},
        {0, 1e300, 48000, "剪辑时间超出可处理范围。"},
        {0, std::numeric_limits<double>::infinity(), 48000, "剪辑时间超出可处理范围。"},
        {1.0, 1.00001, 48000, "剪辑区间太短，无法导出。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " … " + std::to_string(c.end));
        EXPECT_EQ(test::messageOf([&] { MediaTiming::range(c.start, c.end, c.rate); }), c.message);
    }
}

TEST(MediaTime, ArithmeticAndComparisonAreExactAcrossTimescales) {
    // 1001/30000 s (one NTSC frame) against the 48 kHz grid.
    MediaTime frame(1001, 30000);
    MediaTime samples(1601, 48000);  // 0.033354… s, just below one frame
    EXPECT_LT(samples, frame);
    EXPECT_EQ(MediaTime(2002, 60000), frame);
    MediaTime sum = frame + samples;
    EXPECT_EQ(sum.timescale, 240000);
    EXPECT_EQ(sum.value, 8008 + 8005);
    EXPECT_EQ((sum - samples), frame);
    EXPECT_EQ(MediaTime(5, 48000).convertedTo(96000).value, 10);
    EXPECT_EQ(MediaTime(1, 3).convertedTo(2).value, 1);    // 0.667 → 1
    EXPECT_EQ(MediaTime(-1, 4).convertedTo(2).value, -1);  // −0.5 → −1, away from zero
    EXPECT_FALSE((MediaTime::invalid() + frame).isNumeric());
    EXPECT_LT(MediaTime::invalid(), MediaTime(-5, 1));
    // Timescales whose common multiple does not fit 32 bits fall back to the larger one.
    MediaTime coarse(1, 2147483629), fine(1, 2147483587);
    EXPECT_EQ((coarse + fine).timescale, 2147483629);
}

}  // namespace
}  // namespace talvian
