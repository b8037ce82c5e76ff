#include "Player/MpvTimeline.h"

#include <gtest/gtest.h>

#include "Media/AuditionComposer.h"

namespace talvian {
namespace {

AuditionTimeline twoSegments(AuditionMode mode, std::filesystem::path source) {
    AuditionPlan plan;
    plan.mode = mode;
    plan.segments = {CutRegion(0.5, 1, false), CutRegion(2, 2.25, false)};
    return AuditionComposer::layout(source, plan, false);
}

TEST(MpvTimeline, EdlEntriesCountPathBytes) {
    // Each Chinese character is three bytes of UTF-8; "," and ";" inside the path need no other escaping.
    const std::string path = "/媒体/a,b;录音.wav";
    EXPECT_EQ(MpvTimeline::edlAddress(twoSegments(AuditionMode::original, path)),
              "edl://%" + std::to_string(path.size()) + "%" + path + ",0.5,0.5;%" +
                  std::to_string(path.size()) + "%" + path + ",2,0.25");
    EXPECT_EQ(path.size(), 22u);  // bytes, not the 14 characters
}

TEST(MpvTimeline, FilterOnlyForRamps) {
    EXPECT_EQ(MpvTimeline::audioFilter(twoSegments(AuditionMode::original, "/a.wav")), "");
    const std::string filter = MpvTimeline::audioFilter(twoSegments(AuditionMode::edited, "/a.wav"));
    EXPECT_EQ(filter.rfind("lavfi=[aeval=exprs='val(ch)*", 0), 0u) << filter;
    EXPECT_EQ(filter.find(']'), filter.size() - 1);  // mpv's bracket quoting ends only at the end
    EXPECT_EQ(MpvTimeline::gainExpression({}), "1");
    EXPECT_EQ(MpvTimeline::gainExpression({{60000, 480, 0, 1}}),
              "if(lt(t,1),1,if(lt(t,1.008),(0+(1)*(t-1)/0.008),1))");
}

}  // namespace
}  // namespace talvian
