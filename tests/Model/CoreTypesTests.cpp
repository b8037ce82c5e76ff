#include "Model/CoreTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace talvian {
namespace {

TEST(CutRegion, DurationNeverNegativeAndIdentityCounts) {
    CutRegion inverted(5, 3, true);
    EXPECT_EQ(inverted.duration(), 0);
    EXPECT_DOUBLE_EQ(CutRegion(1, 3.5, false).duration(), 2.5);
    CutRegion a(1, 2, true);
    CutRegion b(1, 2, true);
    EXPECT_NE(a, b);  // same bounds, different identity
    CutRegion copy = a;
    EXPECT_EQ(copy, a);
}

TEST(CutOptions, ValidateBounds) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double threshold, minimum, padding;
        std::optional<double> right;
        bool valid;
    };
    const Case cases[] = {
        {-80, 0.8, 0.3, {}, true},      {-10, 0.8, 0.3, {}, true},       {-35, 0.15, 0.3, {}, true},
        {-35, 10, 0.3, {}, true},       {-35, 0.8, 0, {}, true},         {-35, 0.8, 2, {}, true},
        {-35, 0.8, -0.0, {}, true},     {-35, 0.8, 0.3, 2.0, true},      {-80.0001, 0.8, 0.3, {}, false},
        {-35, 10.0001, 0.3, {}, false}, {-35, 0.8, -0.01, {}, false},    {nan, 0.8, 0.3, {}, false},
        {-35, nan, 0.3, {}, false},     {-35, 0.8, nan, {}, false},      {-35, 0.8, 0.3, nan, false},
        {-35, 0.8, 0.3, 2.01, false},   {-35, INFINITY, 0.3, {}, false},
    };
    for (const auto& c : cases) {
        CutOptions options(c.threshold, c.minimum, c.padding, DetectionMode::fixed);
        options.paddingRight = c.right;
        if (c.valid) {
            EXPECT_NO_THROW(options.validate()) << c.threshold << " " << c.minimum << " " << c.padding;
        } else {
            try {
                options.validate();
                ADD_FAILURE() << "accepted " << c.threshold << " " << c.minimum << " " << c.padding;
            } catch (const MediaError& error) {
                EXPECT_EQ(error.message(), "停顿参数超出有效范围。");
            }
        }
    }
}

TEST(DetectionPreset, DefaultsMatchNaturalAndApplyKeepsModeAndThreshold) {
    CutOptions options(-50, 3, 1, DetectionMode::adaptive);
    options.paddingRight = 0.2;
    options.restoreDefaults();
    EXPECT_EQ(options, CutOptions(-35, 0.8, 0.3, DetectionMode::fixed));
    EXPECT_TRUE(matches(DetectionPreset::natural, options));
    options.paddingRight = 0.3;
    for (auto preset : kAllDetectionPresets) EXPECT_FALSE(matches(preset, options));

    CutOptions adaptive(-50, 0.8, 0.3, DetectionMode::adaptive);
    adaptive.paddingRight = 0.1;
    apply(DetectionPreset::tight, adaptive);
    EXPECT_EQ(adaptive.mode, DetectionMode::adaptive);
    EXPECT_EQ(adaptive.thresholdDB, -50);
    EXPECT_EQ(adaptive.minimumSilence, 0.5);
    EXPECT_EQ(adaptive.padding, 0.16);
    EXPECT_FALSE(adaptive.paddingRight);
    EXPECT_EQ(title(DetectionPreset::gentle), "轻柔");
    EXPECT_EQ(title(DetectionPreset::natural), "自然");
    EXPECT_EQ(title(DetectionPreset::tight), "紧凑");
}

TEST(ProjectSourceErrors, DescribeThemselvesWithThePath) {
    EXPECT_EQ(MissingProjectSource("/a/b.mp4").message(),
              "找不到项目的原素材。请将原素材放回此路径后重试：\n/a/b.mp4");
    EXPECT_EQ(MissingProjectSource("/p/media/x.mp4", true, true).message(),
              "交接包内的原片缺失。请将 review.quenlo.json 与完整的 media "
              "文件夹一起移动后再打开，或明确重新定位同一原片。\n/p/media/x.mp4");
    EXPECT_EQ(ChangedProjectSource("/x.wav").message(),
              "原素材的文件信息已变化。可重新定位并核对原片，保留已有剪辑。\n/x.wav");
    // A path cannot reorder or break the sentence it stands in.
    const struct {
        const char* name;
        std::string path;
        std::string shown;
    } paths[] = {
        {"right-to-left override", "/a/invoice\u202Evaw.exe", "/a/invoice\uFFFDvaw.exe"},
        {"isolates and marks", "/a/\u2066b\u2069\u200F.wav", "/a/\uFFFDb\uFFFD\uFFFD.wav"},
        {"newline and tab", "/a/第一行\n第二行\t.wav", "/a/第一行\uFFFD第二行\uFFFD.wav"},
        {"emoji with a skin-tone modifier", "/a/\U0001F44B\U0001F3FD.wav", "/a/\U0001F44B\U0001F3FD.wav"},
    };
    for (const auto& [name, path, shown] : paths) {
        EXPECT_EQ(MissingProjectSource(path).message(),
                  "找不到项目的原素材。请将原素材放回此路径后重试：\n" + shown)
            << name;
        EXPECT_EQ(pathForMessage(path), shown) << name;
    }
}

TEST(Cancellation, StaysCancelledAndTokensAreIndependent) {
    auto token = makeCancellation();
    auto other = makeCancellation();
    EXPECT_NO_THROW(token->check());
    token->cancel();
    token->cancel();
    for (int i = 0; i < 2; ++i) {
        try {
            token->check();
            ADD_FAILURE() << "check passed on a cancelled token";
        } catch (const OperationCancelled& error) {
            EXPECT_EQ(error.message(), "任务已取消，原文件未改动。");
        }
    }
    EXPECT_FALSE(other->isCancelled());
}

TEST(Uuid, CanonicalUpperCaseRoundTrip) {
    auto uuid = Uuid::random();
    auto text = uuid.string();
    ASSERT_EQ(text.size(), 36u);
    for (char c : text) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == '-') << text;
    EXPECT_EQ(Uuid::parse(text), uuid);
    EXPECT_FALSE(Uuid::parse("not-a-uuid"));
    EXPECT_FALSE(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"));
    EXPECT_FALSE(Uuid::parse("E621E1F8+C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_NE(Uuid::random(), Uuid::random());
}

}  // namespace
}  // namespace talvian
