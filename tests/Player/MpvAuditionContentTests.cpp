// What an audition actually sounds like: libmpv writes the played samples to a raw file
// (ao=pcm, as fast as it can decode), and the source is a rising line whose sample value
// tells the source time it came from (value = t / 8), so every output sample shows both the
// source position and the gain applied to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Media/AuditionComposer.h"
#include "Player/MpvPlayer.h"
#include "PlayerTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;

constexpr int kRate = 48000;
constexpr double kValuePerSecond = 1.0 / 8;
// The last audio block before the end of the item may stay unwritten when mpv pauses there.
constexpr std::size_t kTailSlackSamples = 2048;

class MpvAuditionContent : public ::testing::Test {
  protected:
    void SetUp() override {
        // A name with a comma, a semicolon, a percent sign and Chinese: the edl entry must
        // count its bytes, not its characters.
        source = folder / "停顿,;%录音.wav";
        test::makeMedia("-f lavfi -i aevalsrc='t/8':s=48000:d=4 -c:a pcm_f32le", source);
    }

    // Plays the timeline from `startSeconds` to its end and returns the samples played.
    std::vector<float> play(const AuditionTimeline& timeline, double startSeconds = 0,
                            const std::function<void(Player&)>& prepare = {}) {
        const auto output = folder / ("played-" + std::to_string(++runs) + ".raw");
        MpvSettings settings;
        settings.audioOutput = "pcm";
        settings.options = {{"ao-pcm-file", output.string()},
                            {"ao-pcm-waveheader", "no"},
                            {"audio-format", "float"},
                            {"audio-channels", "mono"},
                            {"audio-samplerate", "48000"}};
        MpvPlayer player(timeline, settings);
        bool ended = false;
        bool positioned = startSeconds == 0;
        QObject::connect(&player, &Player::reachedEnd, [&] { ended = true; });
        EXPECT_TRUE(test::waitUntil([&] { return player.status() != PlayerItemStatus::unknown; }));
        EXPECT_EQ(player.status(), PlayerItemStatus::readyToPlay);
        if (startSeconds > 0) player.seek(startSeconds, [&](bool finished) { positioned = finished; });
        EXPECT_TRUE(test::waitUntil([&] { return positioned; }));
        if (prepare) prepare(player);
        player.play();
        EXPECT_TRUE(test::waitUntil([&] { return ended; }, 30));
        std::string bytes = test::readFile(output);
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

    // Checks every played sample against the plan's source time and the timeline's gain.
    void expectSamples(const std::vector<float>& samples, const AuditionPlan& plan,
                       const AuditionTimeline& timeline, double startSeconds) {
        const auto expectedCount =
            static_cast<std::size_t>(std::llround((plan.duration() - startSeconds) * kRate));
        ASSERT_GE(samples.size() + kTailSlackSamples, expectedCount);
        ASSERT_LE(samples.size(), expectedCount);
        double worst = 0;
        std::size_t worstIndex = 0;
        for (std::size_t n = 0; n < samples.size(); ++n) {
            const double t = startSeconds + static_cast<double>(n) / kRate;
            const double expected = plan.sourceTime(t) * kValuePerSecond * timeline.gainAt(t);
            const double error = std::fabs(samples[n] - expected);
            if (error > worst) worst = error, worstIndex = n;
        }
        EXPECT_LT(worst, 1e-5) << "at playback time "
                               << startSeconds + static_cast<double>(worstIndex) / kRate;
    }

    TempDir folder;
    std::filesystem::path source;
    int runs = 0;
};

TEST_F(MpvAuditionContent, EditedAuditionJoinsKeptRangesWithRamps) {
    AuditionPlan plan = AuditionPlan::forFullEdit({CutRegion(1, 2, true), CutRegion(2.5, 3, true)}, 4);
    AuditionTimeline timeline = AuditionComposer::timeline(source, plan);
    ASSERT_EQ(timeline.ramps.size(), 6u);
    std::vector<float> samples = play(timeline);
    expectSamples(samples, plan, timeline, 0);

    // At the first join (playback 1.0 s) the sound fades out from source 1 s and back in
    // from source 2 s over 8 ms each: 384 samples.
    const auto value = [&](double seconds) {
        return samples[static_cast<std::size_t>(std::llround(seconds * kRate))];
    };
    EXPECT_NEAR(value(0.992), 0.992 / 8, 1e-6);        // ramp begins
    EXPECT_NEAR(value(0.996), 0.996 / 8 * 0.5, 1e-6);  // halfway down
    EXPECT_NEAR(value(1.0), 0.0, 1e-6);                // the join itself is silent
    EXPECT_NEAR(value(1.004), 2.004 / 8 * 0.5, 1e-6);  // halfway up, from the kept side
    EXPECT_NEAR(value(1.008), 2.008 / 8, 1e-6);
    EXPECT_NEAR(value(1.5 - 0.002), 2.498 / 8 * 0.25, 1e-6);  // second join, source 2.5 → 3
    EXPECT_NEAR(value(1.5 + 0.002), 3.002 / 8 * 0.25, 1e-6);
}

TEST_F(MpvAuditionContent, OriginalAuditionPlaysTheWindowUnchanged) {
    AuditionPlan plan = AuditionPlan::forCut(CutRegion(2, 2.5, true), {CutRegion(2, 2.5, true)}, 4,
                                             AuditionMode::original, 1.2);
    AuditionTimeline timeline = AuditionComposer::timeline(source, plan);
    std::vector<float> samples = play(timeline);
    expectSamples(samples, plan, timeline, 0);
    ASSERT_FALSE(samples.empty());
    EXPECT_NEAR(samples.front(), 0.8 / 8, 1e-6);  // no fade in: full level from the first sample
}

TEST_F(MpvAuditionContent, ExactSeekKeepsTheRampsOnPlaybackTime) {
    AuditionPlan plan = AuditionPlan::forFullEdit({CutRegion(1, 2, true), CutRegion(2.5, 3, true)}, 4);
    AuditionTimeline timeline = AuditionComposer::timeline(source, plan);
    // 0.25 s before the second join; the first sample is source 2.25 s.
    std::vector<float> samples = play(timeline, 1.25);
    expectSamples(samples, plan, timeline, 1.25);
    ASSERT_FALSE(samples.empty());
    EXPECT_NEAR(samples.front(), 2.25 / 8, 1e-6);
}

TEST_F(MpvAuditionContent, VolumeIsALinearGainAndMuteSilences) {
    AuditionPlan plan = AuditionPlan::forCut(CutRegion(2, 2.5, true), {}, 4, AuditionMode::original, 0.5);
    AuditionTimeline timeline = AuditionComposer::timeline(source, plan);
    struct Case {
        float volume;
        bool muted;
        double gain;
    };
    for (const Case c : {Case{0.5f, false, 0.5}, Case{0.25f, false, 0.25}, Case{1.0f, true, 0.0}}) {
        std::vector<float> samples = play(timeline, 0, [&](Player& player) {
            player.setVolume(c.volume);
            player.setMuted(c.muted);
        });
        ASSERT_GT(samples.size(), 24000u);
        EXPECT_NEAR(samples[24000], (1.5 + 0.5) / 8 * c.gain, 1e-5) << c.volume << " " << c.muted;
    }
}

}  // namespace
}  // namespace talvian
