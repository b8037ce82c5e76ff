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

TEST(FakePlayer, DrawsItsColourOnceReadyAndReportsEachNewPicture) {
    FakePlayer player("/a.mp4");
    int reports = 0;
    QObject::connect(&player, &Player::frameReady, [&] { ++reports; });
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::green);
    player.setFrameColour(QColor(Qt::red));
    settle();
    EXPECT_EQ(reports, 0);  // still loading: no picture yet
    EXPECT_FALSE(player.renderFrame(image));
    EXPECT_EQ(image.pixelColor(4, 3), QColor(Qt::green));

    player.finishLoading(3);
    EXPECT_EQ(reports, 0);  // reported from the event loop, never from inside the call
    settle();
    EXPECT_EQ(reports, 1);
    ASSERT_TRUE(player.renderFrame(image));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(7, 5), QColor(Qt::red));

    player.setFrameColour(QColor(Qt::blue));
    settle();
    EXPECT_EQ(reports, 2);
    QImage other(4, 4, QImage::Format_RGBX8888);
    ASSERT_TRUE(player.renderFrame(other));
    EXPECT_EQ(other.pixelColor(2, 2), QColor(Qt::blue));
    QImage alpha(4, 4, QImage::Format_ARGB32);
    EXPECT_FALSE(player.renderFrame(alpha));  // the same formats as every player

    // An item without pictures, and the empty player, draw nothing.
    player.setFrameColour(std::nullopt);
    EXPECT_FALSE(player.renderFrame(image));
    FakePlayer empty;
    empty.setFrameColour(QColor(Qt::red));
    EXPECT_FALSE(empty.renderFrame(image));
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
