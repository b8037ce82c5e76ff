// The behaviour the controller relies on, checked against both players: the libmpv one on
// generated media (no sound device, no picture) and the scripted one driven like a clock.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "Player/FakePlayer.h"
#include "Player/MpvPlayer.h"
#include "PlayerTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;

constexpr double kToneSeconds = 2.0;
// How far the libmpv player's position may be from an exact seek's target once it lands
// (audio positions come in whole samples).
constexpr double kPositionTolerance = 0.001;

// Makes players for one implementation and moves them along between event-loop turns.
class Rig {
  public:
    virtual ~Rig() = default;
    virtual std::unique_ptr<Player> make(const std::filesystem::path& file) = 0;
    virtual std::unique_ptr<Player> makeEmpty() = 0;
    // One step of time for players that do not run by themselves.
    virtual void step(Player&) {}
};

class MpvRig : public Rig {
  public:
    std::unique_ptr<Player> make(const std::filesystem::path& file) override {
        return std::make_unique<MpvPlayer>(file, settings());
    }
    std::unique_ptr<Player> makeEmpty() override { return std::make_unique<MpvPlayer>(settings()); }

  private:
    static MpvSettings settings() {
        MpvSettings settings;
        settings.audioOutput = "null";
        return settings;
    }
};

class FakeRig : public Rig {
  public:
    std::unique_ptr<Player> make(const std::filesystem::path& file) override {
        auto player = std::make_unique<FakePlayer>(file);
        // Loads (or fails) a moment later, as a real item would.
        FakePlayer* raw = player.get();
        const bool exists = std::filesystem::exists(file);
        QMetaObject::invokeMethod(
            raw,
            [raw, exists] {
                if (exists)
                    raw->finishLoading(kToneSeconds);
                else
                    raw->failLoading();
            },
            Qt::QueuedConnection);
        return player;
    }
    std::unique_ptr<Player> makeEmpty() override { return std::make_unique<FakePlayer>(); }
    void step(Player& player) override { static_cast<FakePlayer&>(player).advance(0.005); }
};

struct RigMaker {
    const char* name;
    std::function<std::unique_ptr<Rig>()> make;
};
void PrintTo(const RigMaker& maker, std::ostream* out) {
    *out << maker.name;
}

class PlayerContract : public ::testing::TestWithParam<RigMaker> {
  protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TempDir>();
        test::makeMedia("-f lavfi -i sine=f=440:r=48000:d=2", tone());
    }
    static void TearDownTestSuite() { folder.reset(); }
    static std::filesystem::path tone() { return *folder / "tone.wav"; }

    void SetUp() override { rig = GetParam().make(); }

    // A player whose ready report has been delivered.
    std::unique_ptr<Player> readyPlayer() {
        auto player = rig->make(tone());
        bool reported = false;
        auto connection = QObject::connect(player.get(), &Player::statusChanged, [&] { reported = true; });
        EXPECT_TRUE(wait(*player, [&] { return reported; }));
        QObject::disconnect(connection);
        EXPECT_EQ(player->status(), PlayerItemStatus::readyToPlay);
        return player;
    }
    bool wait(Player& player, const std::function<bool()>& done, double seconds = 10) {
        return test::waitUntil(done, seconds, [&] { rig->step(player); });
    }
    // Seeks and waits for the completion; returns whether it finished.
    bool seekAndWait(Player& player, double seconds) {
        std::optional<bool> result;
        player.seek(seconds, [&](bool finished) { result = finished; });
        EXPECT_TRUE(wait(player, [&] { return result.has_value(); }));
        return result.value_or(false);
    }

    static inline std::unique_ptr<TempDir> folder;
    std::unique_ptr<Rig> rig;
};

TEST_P(PlayerContract, LoadsPausedAtZeroWithPlatformDefaults) {
    auto player = rig->make(tone());
    EXPECT_TRUE(player->hasItem());
    EXPECT_EQ(player->status(), PlayerItemStatus::unknown);
    int statusReports = 0;
    QObject::connect(player.get(), &Player::statusChanged, [&] { ++statusReports; });
    ASSERT_TRUE(wait(*player, [&] { return statusReports > 0; }));
    test::spin(0.05, [&] { rig->step(*player); });
    EXPECT_EQ(statusReports, 1);
    EXPECT_EQ(player->status(), PlayerItemStatus::readyToPlay);
    ASSERT_TRUE(player->duration().has_value());
    EXPECT_NEAR(*player->duration(), kToneSeconds, 0.01);
    EXPECT_NEAR(player->currentTime(), 0, 1e-9);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(player->defaultRate(), 1);
    EXPECT_EQ(player->volume(), 1);
    EXPECT_FALSE(player->isMuted());
}

TEST_P(PlayerContract, MissingFileFailsAndRefusesToPlayOrSeek) {
    auto player = rig->make(*folder / "missing.wav");
    int statusReports = 0;
    QObject::connect(player.get(), &Player::statusChanged, [&] { ++statusReports; });
    ASSERT_TRUE(wait(*player, [&] { return statusReports > 0; }));
    test::spin(0.05, [&] { rig->step(*player); });
    EXPECT_EQ(statusReports, 1);
    EXPECT_EQ(player->status(), PlayerItemStatus::failed);
    player->play();
    EXPECT_EQ(player->rate(), 0);
    EXPECT_FALSE(seekAndWait(*player, 1));
}

TEST_P(PlayerContract, EmptyPlayerHasNoItem) {
    auto player = rig->makeEmpty();
    EXPECT_FALSE(player->hasItem());
    EXPECT_EQ(player->status(), PlayerItemStatus::unknown);
    EXPECT_FALSE(player->duration().has_value());
    player->play();
    EXPECT_EQ(player->rate(), 0);
    EXPECT_FALSE(seekAndWait(*player, 1));
}

TEST_P(PlayerContract, ReportsArriveLaterFromTheEventLoop) {
    auto player = readyPlayer();
    int rate = 0, defaultRate = 0, volume = 0, muted = 0;
    QObject::connect(player.get(), &Player::rateChanged, [&] { ++rate; });
    QObject::connect(player.get(), &Player::defaultRateChanged, [&] { ++defaultRate; });
    QObject::connect(player.get(), &Player::volumeChanged, [&] { ++volume; });
    QObject::connect(player.get(), &Player::mutedChanged, [&] { ++muted; });
    bool seekDone = false;

    player->setVolume(0.5);
    player->setMuted(true);
    player->setDefaultRate(1.5);
    player->play();
    player->seek(0.5, [&](bool) { seekDone = true; });
    // Nothing is reported from inside the calls, but the values are there at once.
    EXPECT_EQ(rate + defaultRate + volume + muted, 0);
    EXPECT_FALSE(seekDone);
    EXPECT_EQ(player->volume(), 0.5f);
    EXPECT_TRUE(player->isMuted());
    EXPECT_EQ(player->rate(), 1.5f);
    EXPECT_EQ(player->currentTime(), 0.5);

    ASSERT_TRUE(wait(*player, [&] { return rate && defaultRate && volume && muted && seekDone; }));
    EXPECT_EQ(rate, 1);
    EXPECT_EQ(defaultRate, 1);
    EXPECT_EQ(volume, 1);
    EXPECT_EQ(muted, 1);

    // Volume is a fraction of full loudness.
    player->setVolume(3);
    EXPECT_EQ(player->volume(), 1);
    player->setVolume(-1);
    EXPECT_EQ(player->volume(), 0);
}

TEST_P(PlayerContract, RateAndDefaultRate) {
    auto player = readyPlayer();
    player->play();
    EXPECT_EQ(player->rate(), 1);
    player->setDefaultRate(1.5);
    EXPECT_EQ(player->rate(), 1);  // a running player keeps its speed
    player->pause();
    EXPECT_EQ(player->rate(), 0);
    player->play();
    EXPECT_EQ(player->rate(), 1.5);
    player->setRate(2);
    EXPECT_EQ(player->rate(), 2);
    EXPECT_EQ(player->defaultRate(), 1.5);
    player->setRate(0);
    EXPECT_EQ(player->rate(), 0);
    player->setDefaultRate(0.5);  // a paused player stays paused
    EXPECT_EQ(player->rate(), 0);
}

TEST_P(PlayerContract, ExactSeeksOnTheSixtyThousandthGrid) {
    auto player = readyPlayer();
    struct Case {
        double target, expected;
    };
    const Case cases[] = {{0.75, 0.75},
                          {1.0 / 3, 20000.0 / 60000},
                          {-3, 0},
                          {std::numeric_limits<double>::quiet_NaN(), 0},
                          {1.25, 1.25},
                          {99, kToneSeconds},
                          {1e300, kToneSeconds},
                          {std::numeric_limits<double>::infinity(), kToneSeconds}};
    for (const auto& c : cases) {
        EXPECT_TRUE(seekAndWait(*player, c.target)) << c.target;
        EXPECT_NEAR(player->currentTime(), c.expected, kPositionTolerance) << c.target;
    }
}

TEST_P(PlayerContract, SeekBeforeReadyLandsOnceReady) {
    auto player = rig->make(tone());
    std::optional<bool> finished;
    player->seek(1.5, [&](bool done) { finished = done; });
    EXPECT_EQ(player->currentTime(), 1.5);
    ASSERT_TRUE(wait(*player, [&] { return finished.has_value(); }));
    EXPECT_TRUE(*finished);
    ASSERT_TRUE(wait(*player, [&] { return player->status() == PlayerItemStatus::readyToPlay; }));
    EXPECT_NEAR(player->currentTime(), 1.5, kPositionTolerance);
}

TEST_P(PlayerContract, ALaterSeekReplacesAnEarlierOne) {
    auto player = readyPlayer();
    std::vector<std::pair<int, bool>> completions;
    player->seek(0.5, [&](bool finished) { completions.emplace_back(1, finished); });
    player->seek(1.5, [&](bool finished) { completions.emplace_back(2, finished); });
    ASSERT_TRUE(wait(*player, [&] { return completions.size() == 2; }));
    EXPECT_EQ(completions, (std::vector<std::pair<int, bool>>{{1, false}, {2, true}}));
    EXPECT_NEAR(player->currentTime(), 1.5, kPositionTolerance);
}

TEST_P(PlayerContract, PeriodicObserverTicksWhilePlaying) {
    auto player = readyPlayer();
    std::vector<double> ticks;
    auto id = player->addPeriodicTimeObserver(0.05, [&](double seconds) { ticks.push_back(seconds); });
    player->play();
    ASSERT_TRUE(wait(*player, [&] { return ticks.size() >= 3 && ticks.back() > 0.1; }));
    EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()));
    // Stopping is heard too, with the time where it stopped.
    player->pause();
    const auto beforePause = ticks.size();
    ASSERT_TRUE(wait(*player, [&] { return ticks.size() > beforePause; }));
    EXPECT_NEAR(ticks.back(), player->currentTime(), 0.05);
    player->removeTimeObserver(id);
    const auto count = ticks.size();
    test::spin(0.15, [&] { rig->step(*player); });
    EXPECT_EQ(ticks.size(), count);
}

TEST_P(PlayerContract, BoundaryObserverFiresWhenPlaybackCrossesOnly) {
    auto player = readyPlayer();
    int crossings = 0;
    player->addBoundaryTimeObserver({0.5, 1.9}, [&] { ++crossings; });
    // A seek over a boundary crosses nothing.
    ASSERT_TRUE(seekAndWait(*player, 0.8));
    test::spin(0.05, [&] { rig->step(*player); });
    EXPECT_EQ(crossings, 0);
    ASSERT_TRUE(seekAndWait(*player, 0.3));
    player->play();
    ASSERT_TRUE(wait(*player, [&] { return crossings == 1; }));
    EXPECT_GE(player->currentTime(), 0.5);
    EXPECT_LT(player->currentTime(), 0.7);
}

TEST_P(PlayerContract, EndPausesAndReportsOnce) {
    auto player = readyPlayer();
    int ends = 0;
    QObject::connect(player.get(), &Player::reachedEnd, [&] { ++ends; });
    ASSERT_TRUE(seekAndWait(*player, kToneSeconds - 0.2));
    player->play();
    ASSERT_TRUE(wait(*player, [&] { return ends > 0; }));
    test::spin(0.05, [&] { rig->step(*player); });
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_NEAR(player->currentTime(), kToneSeconds, 0.01);
    // Play at the end stays there; a seek back makes it play again.
    player->play();
    EXPECT_EQ(player->rate(), 0);
    ASSERT_TRUE(seekAndWait(*player, 0));
    player->play();
    EXPECT_EQ(player->rate(), 1);
    ASSERT_TRUE(wait(*player, [&] { return player->currentTime() > 0.05; }));
}

// The player's clock is the file's own time stamps, the clock the analysis reports in.
TEST(MpvPlayerClock, KeepsTheFilesStartTime) {
    TempDir folder;
    test::makeMedia("-f lavfi -i sine=d=1 -c:a mp2 -output_ts_offset 10 -f mpegts", folder / "late.ts");
    MpvSettings settings;
    settings.audioOutput = "null";
    MpvPlayer player(folder / "late.ts", settings);
    ASSERT_TRUE(test::waitUntil([&] { return player.status() == PlayerItemStatus::readyToPlay; }));
    // ffprobe gives this file a start of about 11.39 s (offset plus the muxer's delay).
    const double start = player.currentTime();
    EXPECT_GT(start, 10);
    EXPECT_LT(start, 12);
    ASSERT_TRUE(player.duration().has_value());
    EXPECT_NEAR(*player.duration() - start, 1.0, 0.05);
    // Seeks and the end are on the same clock.
    bool landed = false;
    player.seek(start + 0.5, [&](bool finished) { landed = finished; });
    ASSERT_TRUE(test::waitUntil([&] { return landed; }));
    EXPECT_NEAR(player.currentTime(), start + 0.5, 0.001);
    bool ended = false;
    QObject::connect(&player, &Player::reachedEnd, [&] { ended = true; });
    player.play();
    ASSERT_TRUE(test::waitUntil([&] { return ended; }));
    EXPECT_NEAR(player.currentTime(), *player.duration(), 0.001);
}

INSTANTIATE_TEST_SUITE_P(Players, PlayerContract,
                         ::testing::Values(RigMaker{"Mpv", [] { return std::make_unique<MpvRig>(); }},
                                           RigMaker{"Fake", [] { return std::make_unique<FakeRig>(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace talvian
