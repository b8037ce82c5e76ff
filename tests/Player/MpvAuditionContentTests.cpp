#include <gtest/gtest.h>

#include <cstring>

#include "Export/AuditionComposer.h"
#include "Player/MpvPlayer.h"
#include "PlayerTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;

constexpr int kRate = 48000;

std::vector<float> readFloats(const std::filesystem::path& path) {
    std::string bytes = test::readFile(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

TEST(MpvAuditionContent, Explore) {
    TempDir folder;
    // The sample value tells the source time it came from: value = t / 8.
    test::makeMedia("-f lavfi -i aevalsrc='t/8':s=48000:d=4 -c:a pcm_f32le", folder / "ramp.wav");
    AuditionPlan plan = AuditionPlan::forFullEdit({CutRegion(1, 2, true)}, 4);
    AuditionTimeline timeline = AuditionComposer::timeline(folder / "ramp.wav", plan);
    MpvSettings settings;
    settings.audioOutput = "pcm";
    settings.options = {{"ao-pcm-file", (folder / "out.raw").string()},
                        {"ao-pcm-waveheader", "no"},
                        {"audio-format", "float"},
                        {"audio-channels", "mono"},
                        {"audio-samplerate", "48000"}};
    MpvPlayer player(timeline, settings);
    bool ended = false;
    QObject::connect(&player, &Player::reachedEnd, [&] { ended = true; });
    ASSERT_TRUE(test::waitUntil([&] { return player.status() != PlayerItemStatus::unknown; }));
    ASSERT_EQ(player.status(), PlayerItemStatus::readyToPlay);
    std::cerr << "duration " << *player.duration() << "\n";
    player.play();
    ASSERT_TRUE(test::waitUntil([&] { return ended; }, 20));
    std::cerr << "time at end " << player.currentTime() << "\n";
    auto samples = readFloats(folder / "out.raw");
    std::cerr << "samples " << samples.size() << "\n";
    for (int n : {0, 1, 2, 100, 24000, 47500, 47600, 47800, 47900, 47990, 47999, 48000, 48001, 48100, 48200, 48300, 48400, 72000, 143000, 143999}) {
        if (n < (int)samples.size()) std::cerr << n << " " << samples[n] * 8 << " gain " << timeline.gainAt(double(n)/kRate) << " src " << plan.sourceTime(double(n)/kRate) << "\n";
    }
}

}  // namespace
}  // namespace talvian
