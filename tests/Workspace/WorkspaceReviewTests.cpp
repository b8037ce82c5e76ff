#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

TEST_F(WorkspaceTest, LongestFirstOrdersByLengthStartEndAndIdentity) {
    analysis.cuts = [](const CutOptions&) {
        CutRegion a(1, 2, true), b(3, 4, true), c(5, 7, true), inverted(9, 8.5, true);
        a.id = *Uuid::parse("BBBBBBBB-0000-4000-8000-000000000000");
        b.id = *Uuid::parse("AAAAAAAA-0000-4000-8000-000000000000");
        return std::vector<CutRegion>{a, b, c, inverted};
    };
    analysis.duration = 10;
    open(sourceA);
    workspace->setReviewOrder(ReviewOrder::longestFirst);
    const auto ordered = workspace->reviewCuts();
    ASSERT_EQ(ordered.size(), 4u);
    EXPECT_EQ(ordered[0].start, 5);
    EXPECT_EQ(ordered[1].start, 1);  // equal lengths: the earlier start first
    EXPECT_EQ(ordered[2].start, 3);
    EXPECT_EQ(ordered[3].start, 9);  // a negative length counts as 0
    EXPECT_EQ(std::string(rawValue(ReviewOrder::longestFirst)), "longestFirst");
    EXPECT_EQ(reviewOrderFromRaw("chronological"), ReviewOrder::chronological);
    EXPECT_EQ(reviewOrderFromRaw("other"), std::nullopt);
}

TEST_F(WorkspaceTest, CommandClickEntersBatchModeWithTheReviewedPause) {
    open(sourceA);
    const auto list = ids();
    workspace->selectCutRow(list[0], false, false);  // a plain click reviews
    EXPECT_EQ(workspace->review().reviewID, list[0]);
    EXPECT_FALSE(workspace->review().batchMode);
    workspace->selectCutRow(list[2], true, false);
    EXPECT_TRUE(workspace->review().batchMode);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{list[0], list[2]}));
    workspace->selectCutRow(list[2], true, false);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{list[0]}));
    workspace->clearBatchSelection();
    EXPECT_TRUE(workspace->review().batchIDs.empty());
    EXPECT_TRUE(workspace->review().batchMode);
    workspace->resetBatchSelection();
    EXPECT_FALSE(workspace->review().batchMode);
}

TEST_F(WorkspaceTest, ShiftClickExtendsFromTheAnchorWithoutMovingIt) {
    analysis.cuts = [](const CutOptions&) {
        std::vector<CutRegion> cuts;
        for (int i = 0; i < 7; ++i) cuts.emplace_back(i + 0.1, i + 0.6, true);
        return cuts;
    };
    open(sourceA);
    const auto list = ids();
    workspace->beginBatchSelection();
    workspace->toggleBatchCut(list[2], false);
    workspace->toggleBatchCut(list[5], true);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{list[2], list[3], list[4], list[5]}));
    EXPECT_EQ(workspace->review().batchAnchor, list[2]);
    workspace->toggleBatchCut(list[3], true);
    EXPECT_EQ(workspace->review().batchIDs.size(), 4u);
    workspace->selectAllBatch();
    EXPECT_EQ(workspace->review().batchIDs.size(), 7u);
}

TEST_F(WorkspaceTest, ReconcileDropsSelectionsWhoseRegionsAreGone) {
    open(sourceA);
    ASSERT_TRUE(workspace->addManualCut("8.0", "9.0"));
    const auto manual = *workspace->review().reviewID;
    workspace->beginBatchSelection();
    workspace->toggleBatchCut(manual, false);
    EXPECT_EQ(workspace->review().batchAnchor, manual);
    workspace->undoCut();
    EXPECT_TRUE(workspace->review().batchIDs.empty());
    EXPECT_FALSE(workspace->review().batchAnchor);
    EXPECT_FALSE(workspace->review().reviewID);
}

TEST_F(WorkspaceTest, ReviewNeedsTheReadyPreview) {
    open(sourceA);
    // Navigation auditions each pause; without a ready preview player nothing moves.
    EXPECT_FALSE(workspace->guards().canReview);
    workspace->moveReview(1);
    workspace->rewindReview();
    EXPECT_FALSE(workspace->review().reviewID);
}
