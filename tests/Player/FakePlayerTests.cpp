// The scripting the controller tests rely on beyond the shared player contract.
#include "Player/FakePlayer.h"

#include <gtest/gtest.h>

#include "PlayerTestSupport.h"

namespace talvian {
namespace {

void settle() {
    test::spin(0.02);
}

TEST(FakePlayer, HeldSeeksCompleteWhenTheTestSays) {
    FakePlayer player("/a.wav");
    player.finishLoading(10);
    player.setHoldSeeks(true);
    std::vector<std::pair<int, bool>> completions;
    player.seek(2, [&](bool finished) { completions.emplace_back(1, finished); });
    settle();
    EXPECT_TRUE(completions.empty());
    player.completeSeeks(false);
    player.seek(4, [&](bool finished) { completions.emplace_back(2, finished); });
    player.completeSeeks(true);
    settle();
    EXPECT_EQ(completions, (std::vector<std::pair<int, bool>>{{1, false}, {2, true}}));
    EXPECT_EQ(player.seekLog(), (std::vector<double>{2, 4}));
    EXPECT_EQ(player.currentTime(), 4);
}

TEST(FakePlayer, AdvanceMovesByRateAndStopsAtTheEnd) {
    FakePlayer player("/a.wav");
    player.finishLoading(3);
    std::vector<double> ticks;
    int crossings = 0, ends = 0;
    player.addPeriodicTimeObserver(0.08, [&](double seconds) { ticks.push_back(seconds); });
    player.addBoundaryTimeObserver({1.5}, [&] { ++crossings; });
    QObject::connect(&player, &Player::reachedEnd, [&] { ++ends; });

    player.advance(1);  // paused: nothing moves, nothing ticks
    settle();
    EXPECT_EQ(player.currentTime(), 0);
    EXPECT_TRUE(ticks.empty());

    player.setDefaultRate(2);
    player.play();
    settle();
    ticks.clear();  // the start itself is reported
    player.advance(0.5);
    settle();
    EXPECT_EQ(player.currentTime(), 1);
    EXPECT_EQ(ticks, (std::vector<double>{1}));
    EXPECT_EQ(crossings, 0);
    player.advance(0.5);
    settle();
    EXPECT_EQ(crossings, 1);
    player.advance(5);
    settle();
    EXPECT_EQ(player.currentTime(), 3);
    EXPECT_EQ(player.rate(), 0);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player.playCount(), 1);
}

TEST(FakePlayerFactory, RemembersAndScriptsWhatItMakes) {
    FakePlayerFactory factory;
    factory.onCreate = [](FakePlayer& player) { player.finishLoading(5); };
    auto empty = factory.makeEmptyPlayer();
    auto file = factory.makePlayer("/src.mov");
    AuditionTimeline timeline;
    timeline.source = "/src.mov";
    auto audition = factory.makeAuditionPlayer(timeline);
    ASSERT_EQ(factory.created.size(), 3u);
    EXPECT_FALSE(empty->hasItem());
    EXPECT_EQ(file->status(), PlayerItemStatus::readyToPlay);
    EXPECT_EQ(factory.created[1]->file(), "/src.mov");
    EXPECT_FALSE(factory.created[1]->timeline().has_value());
    EXPECT_EQ(factory.last()->timeline(), timeline);
    audition.reset();
    EXPECT_EQ(factory.last(), nullptr);
}

}  // namespace
}  // namespace talvian
