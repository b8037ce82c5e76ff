// Pictures come out of libmpv's software renderer: the preview paints them later.
#include <gtest/gtest.h>

#include "Export/AuditionComposer.h"
#include "Player/MpvPlayer.h"
#include "PlayerTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;

MpvSettings frameSettings() {
    MpvSettings settings;
    settings.audioOutput = "null";
    settings.videoFrames = true;
    return settings;
}

// Waits for the item and its first picture, then renders it.
QImage firstFrame(MpvPlayer& player, QSize size) {
    bool frame = false;
    QObject::connect(&player, &MpvPlayer::frameChanged, [&] { frame = true; });
    EXPECT_TRUE(test::waitUntil([&] { return player.status() == PlayerItemStatus::readyToPlay && frame; }));
    return player.renderFrame(size);
}

TEST(MpvFrames, RendersThePictureIntoAnImage) {
    TempDir folder;
    // Red for the first second, blue after it.
    test::makeMedia(
        "-f lavfi -i sine=d=2 -f lavfi -i color=c=red:s=64x36:d=1 -f lavfi -i color=c=blue:s=64x36:d=1 "
        "-filter_complex [1:v][2:v]concat=n=2:v=1:a=0[v] -map [v] -map 0:a -c:v libx264 -pix_fmt yuv420p "
        "-shortest",
        folder / "picture.mp4");

    MpvPlayer player(folder / "picture.mp4", frameSettings());
    QImage image = firstFrame(player, QSize(64, 36));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(64, 36));
    QColor centre = image.pixelColor(32, 18);
    EXPECT_GT(centre.red(), 200);
    EXPECT_LT(centre.blue(), 60);

    // An audition of the second half shows blue from its start.
    AuditionPlan plan = AuditionPlan::forCut(CutRegion(1.2, 1.5, true), {}, 2, AuditionMode::edited, 0.1);
    AuditionTimeline timeline = AuditionComposer::timeline(folder / "picture.mp4", plan);
    ASSERT_TRUE(timeline.hasVideo);
    MpvPlayer audition(timeline, frameSettings());
    QImage auditionImage = firstFrame(audition, QSize(64, 36));
    ASSERT_FALSE(auditionImage.isNull());
    centre = auditionImage.pixelColor(32, 18);
    EXPECT_GT(centre.blue(), 200);
    EXPECT_LT(centre.red(), 60);
}

TEST(MpvFrames, NoImageWithoutFrames) {
    MpvSettings settings;
    settings.audioOutput = "null";
    MpvPlayer player(settings);
    EXPECT_TRUE(player.renderFrame(QSize(16, 16)).isNull());
}

}  // namespace
}  // namespace talvian
