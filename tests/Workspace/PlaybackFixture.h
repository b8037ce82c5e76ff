#pragma once
// Controller tests of the preview and of auditions: scripted players over a real recording
// (auditions read its track list), so the test decides when each player loads and moves.

#include "Player/FakePlayer.h"
#include "WorkspaceFixture.h"

namespace talvian::test {

class PlaybackTest : public WorkspaceTest {
  protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        makeMedia("-f lavfi -i sine=f=440:r=48000:d=10", sourceA);
    }

    FakePlayer& preview() { return dynamic_cast<FakePlayer&>(workspace->player()); }
    FakePlayer* auditionPlayer() { return dynamic_cast<FakePlayer*>(workspace->auditionPlayer()); }
    CutRegion cut(std::size_t index) const { return workspace->document().project->cuts.at(index); }

    // Opens sourceA, lets the analysis finish and the preview load.
    void openReady() {
        open(sourceA);
        preview().finishLoading(analysis.duration);
        ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
        settle();
    }
    // Waits for the audition player of a started audition, loads it and waits until it plays.
    FakePlayer& playAudition() {
        EXPECT_TRUE(waitUntil([&] { return auditionPlayer() != nullptr; }));
        FakePlayer& player = *auditionPlayer();
        player.finishLoading(player.timeline()->durationSeconds());
        EXPECT_TRUE(waitUntil([&] { return !workspace->guards().auditionLoading; }));
        settle();
        return player;
    }
};

}  // namespace talvian::test
