// Pictures come out of libmpv's software renderer into the caller's image, through the
// abstract player the preview paints from.
#include <gtest/gtest.h>

#include "Media/AuditionComposer.h"
#include "MediaTestSupport.h"
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

// Red for the first second, blue after it; 64×36.
void makePicture(const std::filesystem::path& file) {
    test::makeMedia(
        "-f lavfi -i sine=d=2 -f lavfi -i color=c=red:s=64x36:d=1 -f lavfi -i color=c=blue:s=64x36:d=1 "
        "-filter_complex [1:v][2:v]concat=n=2:v=1:a=0[v] -map [v] -map 0:a -c:v libx264 -pix_fmt yuv420p "
        "-shortest",
        file);
}

// Waits for the item and its first picture, then draws it into `target`.
bool firstFrame(Player& player, QImage& target) {
    bool ready = false;
    QObject::connect(&player, &Player::frameReady, [&] { ready = true; });
    EXPECT_TRUE(test::waitUntil([&] { return player.status() == PlayerItemStatus::readyToPlay && ready; }));
    // The first report may come before the first picture is drawn: ask until one is.
    bool drawn = false;
    EXPECT_TRUE(test::waitUntil([&] { return (drawn = player.renderFrame(target)); }));
    return drawn;
}

TEST(MpvFrames, DrawsThePictureIntoTheCallersImage) {
    TempDir folder;
    makePicture(folder / "picture.mp4");
    for (const auto format : {QImage::Format_RGBX8888, QImage::Format_RGB32}) {
        SCOPED_TRACE(format);
        MpvPlayer player(folder / "picture.mp4", frameSettings());
        QImage image(64, 36, format);
        ASSERT_TRUE(firstFrame(player, image));
        const QColor centre = image.pixelColor(32, 18);
        EXPECT_GT(centre.red(), 200);
        EXPECT_LT(centre.blue(), 60);
        EXPECT_EQ(centre.alpha(), 255);
    }

    // A square target: the picture keeps its shape between black bars.
    MpvPlayer player(folder / "picture.mp4", frameSettings());
    QImage square(64, 64, QImage::Format_RGBX8888);
    square.fill(Qt::green);
    ASSERT_TRUE(firstFrame(player, square));
    EXPECT_EQ(square.pixelColor(32, 2), QColor(Qt::black));  // opaque: the padding byte is 0xff
    EXPECT_EQ(square.pixelColor(32, 61), QColor(Qt::black));
    EXPECT_GT(square.pixelColor(32, 32).red(), 200);

    // An audition of the second half shows blue from its start.
    AuditionPlan plan = AuditionPlan::forCut(CutRegion(1.2, 1.5, true), {}, 2, AuditionMode::edited, 0.1);
    AuditionTimeline timeline = AuditionComposer::timeline(folder / "picture.mp4", plan);
    ASSERT_TRUE(timeline.hasVideo);
    MpvPlayer audition(timeline, frameSettings());
    QImage auditionImage(64, 36, QImage::Format_RGBX8888);
    ASSERT_TRUE(firstFrame(audition, auditionImage));
    const QColor centre = auditionImage.pixelColor(32, 18);
    EXPECT_GT(centre.blue(), 200);
    EXPECT_LT(centre.red(), 60);
}

// The colour of `image` at the point that lies at the same share of its width and height as
// (x, y) does in `frame`.
std::array<int, 3> sameSpot(const QImage& image, const test::RgbFrame& frame, int x, int y) {
    const QColor c = image.pixelColor(x * image.width() / frame.width, y * image.height() / frame.height);
    return {c.red(), c.green(), c.blue()};
}

TEST(MpvFrames, RotatedRecordingsAreDrawnUprightAsFfmpegShowsThem) {
    TempDir folder;
    struct Case {
        int degrees;
        bool portrait;
    };
    for (const Case c : {Case{0, false}, Case{90, true}, Case{180, false}, Case{270, true}}) {
        SCOPED_TRACE(c.degrees);
        const auto file = folder / ("turned-" + std::to_string(c.degrees) + ".mp4");
        test::makeRotatedVideo(file, c.degrees);
        const test::RgbFrame upright = test::decodedFrame(file);
        ASSERT_EQ(upright.width < upright.height, c.portrait) << "ffmpeg's own orientation";

        // Twice the upright size: the picture fills the target, each quarter as ffmpeg shows it.
        MpvPlayer player(file, frameSettings());
        QImage image(2 * upright.width, 2 * upright.height, QImage::Format_RGB32);
        ASSERT_TRUE(firstFrame(player, image));
        const int w = upright.width, h = upright.height;
        const std::pair<int, int> quarters[] = {
            {w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
        for (const auto& [x, y] : quarters)
            EXPECT_LE(test::colourDistance(sameSpot(image, upright, x, y), upright.at(x, y)), 40)
                << "at " << x << "," << y;

        // An audition of the same recording is turned the same way.
        AuditionPlan plan = AuditionPlan::forCut(CutRegion(0.5, 0.8, true), {}, 2, AuditionMode::edited, 0.1);
        MpvPlayer audition(AuditionComposer::timeline(file, plan), frameSettings());
        QImage auditionImage(w, h, QImage::Format_RGBX8888);
        ASSERT_TRUE(firstFrame(audition, auditionImage));
        for (const auto& [x, y] : quarters)
            EXPECT_LE(test::colourDistance(sameSpot(auditionImage, upright, x, y), upright.at(x, y)), 40)
                << "audition at " << x << "," << y;
    }

    // A portrait picture in a landscape target stands between black bars at its sides.
    const auto portrait = folder / "turned-90.mp4";
    MpvPlayer player(portrait, frameSettings());
    QImage wide(128, 64, QImage::Format_RGB32);
    ASSERT_TRUE(firstFrame(player, wide));
    EXPECT_EQ(wide.pixelColor(4, 32), QColor(Qt::black));
    EXPECT_EQ(wide.pixelColor(123, 32), QColor(Qt::black));
    const QColor middle = wide.pixelColor(64, 16);
    EXPECT_GT(std::max(middle.red(), middle.blue()), 200);
}

TEST(MpvFrames, NothingIsDrawnWithoutAPictureOrIntoAnUnusableImage) {
    TempDir folder;
    makePicture(folder / "picture.mp4");
    test::makeMedia("-f lavfi -i sine=d=1", folder / "tone.wav");

    MpvSettings noFrames;
    noFrames.audioOutput = "null";
    MpvPlayer empty(noFrames);
    QImage image(16, 16, QImage::Format_RGBX8888);
    image.fill(Qt::green);
    EXPECT_FALSE(empty.renderFrame(image));
    MpvPlayer withoutFrames(folder / "picture.mp4", noFrames);
    ASSERT_TRUE(test::waitUntil([&] { return withoutFrames.status() == PlayerItemStatus::readyToPlay; }));
    EXPECT_FALSE(withoutFrames.renderFrame(image));

    // An item without pictures never has one to draw.
    MpvPlayer tone(folder / "tone.wav", frameSettings());
    ASSERT_TRUE(test::waitUntil([&] { return tone.status() == PlayerItemStatus::readyToPlay; }));
    test::spin(0.2);
    EXPECT_FALSE(tone.renderFrame(image));
    EXPECT_EQ(image.pixelColor(8, 8), QColor(Qt::green));

    MpvPlayer picture(folder / "picture.mp4", frameSettings());
    QImage drawn(16, 16, QImage::Format_RGBX8888);
    ASSERT_TRUE(firstFrame(picture, drawn));
    QImage alpha(16, 16, QImage::Format_ARGB32);
    alpha.fill(Qt::green);
    QImage null;
    EXPECT_FALSE(picture.renderFrame(alpha));
    EXPECT_EQ(alpha.pixelColor(8, 8), QColor(Qt::green));
    EXPECT_FALSE(picture.renderFrame(null));
}

}  // namespace
}  // namespace talvian
