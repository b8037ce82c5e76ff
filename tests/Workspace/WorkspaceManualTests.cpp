#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

TEST(ManualRanges, TypedTimesAcceptSecondsAndClockNotation) {
    struct Case {
        const char* text;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"12.5", 12.5},  {"1:05.5", 65.5}, {"1：05", 65.0}, {"1:02:03", 3723.0}, {" 7\n", 7.0},
        {"1:60", {}},    {"1:5.", {}},     {":30", {}},     {"-3", -3.0},        {"1:60:00", {}},
        {"1:2:3:4", {}}, {"abc", {}},      {"1e999", {}},   {"90:00", 5400.0},   {"1:+5", {}},
        {"", {}},        {"0:.5", {}},     {"1e1", 10.0},
    };
    for (const auto& c : cases) EXPECT_EQ(Workspace::manualSeconds(c.text), c.expected) << c.text;
}

TEST_F(WorkspaceTest, ManualRangeIssuesInTheirOrder) {
    open(sourceA);
    const auto& project = *workspace->document().project;
    struct Case {
        const char* start;
        const char* end;
        std::optional<std::string> issue;
    };
    const Case cases[] = {
        {"x", "1", "填写秒数或分:秒"},          {"-1", "1", "时间须在原片范围内"},
        {"9", "10.01", "时间须在原片范围内"},   {"9", "10", std::nullopt},
        {"0", "0.08", "区间需长于0.08秒"},      {"0", "0.081", std::nullopt},
        {"0:05", "0:04.9", "区间需长于0.08秒"}, {"1", "2", "此区间已添加"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Workspace::manualRangeIssue(c.start, c.end, project), c.issue) << c.start << " " << c.end;
}

TEST_F(WorkspaceTest, AddingAManualRangeAndItsNotices) {
    open(sourceA);
    workspace->setManualStart("1.2");
    workspace->setManualEnd("1.8");
    EXPECT_EQ(workspace->manualCutHint(), "区间 0.60 秒 · 添加后预计多删 0.00 秒");
    workspace->setManualStart("2.5");
    workspace->setManualEnd("3.0");
    EXPECT_EQ(workspace->manualCutHint(), "区间 0.50 秒 · 添加后预计多删 0.50 秒");
    ASSERT_TRUE(workspace->guards().canAddManualCut);

    EXPECT_TRUE(workspace->addManualCut("2.5", "3.0"));
    EXPECT_EQ(workspace->job().status, "已添加手动删除区间，可撤销或试听。");
    EXPECT_EQ(workspace->document().project->cuts.size(), 4u);
    EXPECT_EQ(workspace->document().project->cuts[1].start, 2.5);
    EXPECT_EQ(workspace->review().reviewID, workspace->document().project->cuts[1].id);

    EXPECT_FALSE(workspace->addManualCut("2.5", "3.0"));
    EXPECT_EQ(workspace->job().notice, "此区间已添加");
    EXPECT_FALSE(workspace->addManualCut("x", "3.0"));
    EXPECT_EQ(workspace->job().notice, "填写秒数或分:秒，再添加删除区间。");
    workspace->undoCut();
    EXPECT_EQ(workspace->document().project->cuts.size(), 3u);

    workspace->resetManualMarks();
    EXPECT_EQ(workspace->review().manualStart, "0");
    EXPECT_EQ(workspace->review().manualEnd, "1");
}

TEST_F(WorkspaceTest, AManualRangeRefusedByTheEditPathReportsNothingAsDone) {
    open(sourceA);
    window.keepsFocus = true;
    const auto status = workspace->job().status;
    EXPECT_FALSE(workspace->addManualCut("2.5", "3.0"));
    EXPECT_EQ(workspace->document().project->cuts.size(), 3u);
    EXPECT_EQ(workspace->job().status, status);
    EXPECT_FALSE(workspace->review().reviewID);
}
