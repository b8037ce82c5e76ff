// The video area: the sounding player's picture (scripted colours, then real libmpv pictures),
// the swap to an audition player and back, and the card shown when the preview cannot be used.

#include <QLabel>
#include <QTest>

#include <filesystem>

#include "../Workspace/PlaybackFixture.h"
#include "Kit/StudioControls.h"
#include "MediaTestSupport.h"
#include "Pixels.h"
#include "Player/MpvPlayer.h"
#include "Views/SourcePreview.h"
#include "WaveformFixture.h"

namespace talvian::test {
namespace {

const std::string kCardTitle = "预览尚未就绪";
const std::string kFailedText = "无法预览这份素材。可重新选择原素材，或导入其他音视频。";

// The preview on a plain window, as the editor would hold it.
struct PreviewHost {
    PreviewHost(Workspace& workspace, QSize size) {
        view = new SourcePreview(workspace, &host);
        view->setGeometry(QRect(QPoint(0, 0), size));
        host.resize(size);
        host.show();
    }
    QColor centre() {
        const QImage image = grabbed(*view);
        return at(image, image.width() / 2, image.height() / 2);
    }
    Host host;
    SourcePreview* view = nullptr;
};

class SourcePreviewTest : public PlaybackTest {
  protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        shown = std::make_unique<PreviewHost>(*workspace, QSize(320, 180));
    }
    SourcePreview& view() { return *shown->view; }
    // Runs the queued reports, then reads what the view paints in its middle.
    QColor centre() {
        settle();
        return shown->centre();
    }
    std::unique_ptr<PreviewHost> shown;
};

TEST_F(SourcePreviewTest, PaintsTheSoundingPlayerAndSwapsToTheAuditionAndBack) {
    EXPECT_EQ(centre(), QColor(Qt::black)) << "no source: no picture";
    openReady();
    EXPECT_EQ(view().picture().player(), &workspace->player());
    EXPECT_EQ(centre(), QColor(Qt::black)) << "a source without pictures";
    preview().setFrameColour(Qt::red);
    EXPECT_EQ(centre(), QColor(Qt::red));
    // Every new picture is drawn, not the one drawn first.
    preview().setFrameColour(Qt::green);
    EXPECT_EQ(centre(), QColor(Qt::green));

    const int rebuilds = view().picture().rebuilds();
    workspace->audition(cut(0).id, AuditionMode::original);
    FakePlayer& audition = playAudition();
    EXPECT_EQ(view().picture().player(), &audition);
    EXPECT_EQ(view().picture().rebuilds(), rebuilds + 1);
    EXPECT_EQ(centre(), QColor(Qt::black)) << "the audition's own picture, not the preview's";
    audition.setFrameColour(Qt::blue);
    EXPECT_EQ(centre(), QColor(Qt::blue));
    // The preview player goes on underneath; its pictures are not shown meanwhile.
    preview().setFrameColour(Qt::yellow);
    EXPECT_EQ(centre(), QColor(Qt::blue));

    workspace->stopAudition(true);
    settle();
    EXPECT_EQ(view().picture().player(), &workspace->player());
    EXPECT_EQ(view().picture().rebuilds(), rebuilds + 2);
    EXPECT_EQ(centre(), QColor(Qt::yellow));
    preview().setFrameColour(Qt::cyan);
    EXPECT_EQ(centre(), QColor(Qt::cyan)) << "the preview's pictures reach the view again";

    // Playback, speed and sound are published often; none of them is another player.
    workspace->togglePlayback();
    workspace->setPlaybackSpeed(1.5f);
    workspace->togglePlayback();
    settle();
    EXPECT_EQ(view().picture().rebuilds(), rebuilds + 2);

    // A second audition is another player object: the view takes it on.
    workspace->audition(cut(1).id, AuditionMode::edited);
    FakePlayer& second = playAudition();
    EXPECT_EQ(view().picture().player(), &second);
    EXPECT_EQ(view().picture().rebuilds(), rebuilds + 3);
}

TEST_F(SourcePreviewTest, ThePictureIsDisabledUnlessThePreviewCanPlay) {
    EXPECT_FALSE(view().picture().isEnabled());
    open(sourceA);
    settle();
    EXPECT_FALSE(view().picture().isEnabled()) << "still loading";
    preview().finishLoading(analysis.duration);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    settle();
    EXPECT_TRUE(view().picture().isEnabled());

    workspace->audition(cut(0).id, AuditionMode::original);
    ASSERT_TRUE(waitUntil([&] { return auditionPlayer() != nullptr; }));
    settle();
    EXPECT_TRUE(workspace->guards().auditionLoading);
    EXPECT_FALSE(view().picture().isEnabled()) << "an audition is loading";
    playAudition();
    EXPECT_TRUE(view().picture().isEnabled());
    workspace->stopAudition(true);

    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    settle();
    EXPECT_FALSE(view().picture().isEnabled()) << "a job runs";
    analysis.hold = false;
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_TRUE(view().picture().isEnabled());
}

TEST_F(SourcePreviewTest, AnIssueCoversTheAreaAndOffersToChooseTheSourceAgain) {
    open(sourceA);
    preview().setFrameColour(Qt::red);
    EXPECT_FALSE(view().issueCard().isVisible());
    preview().failLoading();
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewIssue.has_value(); }));
    settle();

    ASSERT_TRUE(view().issueCard().isVisible());
    EXPECT_EQ(view().issueTitle().text().toStdString(), kCardTitle);
    EXPECT_EQ(view().issueTitle().font().pixelSize(), 15);
    EXPECT_EQ(view().issueText().text().toStdString(), kFailedText);
    EXPECT_EQ(view().issueText().font().pixelSize(), 13);
    StudioButton& button = view().reselectButton();
    EXPECT_EQ(button.text().toStdString(), "选择原素材…");
    EXPECT_EQ(button.accessibleName().toStdString(), "选择同一原素材，保留剪辑");
    EXPECT_EQ(button.toolTip().toStdString(), "选择当前原片，保留已有剪辑");
    EXPECT_EQ(view().issueCard().geometry(), view().rect());

    // Clicks anywhere on the area land on the card, never on the picture under it.
    for (const QPoint point : {QPoint(2, 2), QPoint(160, 90), QPoint(317, 177)}) {
        QWidget* hit = view().childAt(point);
        ASSERT_NE(hit, nullptr);
        EXPECT_TRUE(hit == &view().issueCard() || view().issueCard().isAncestorOf(hit)) << point.x();
    }
    const QImage image = grabbed(view());
    EXPECT_EQ(at(image, 4, 4), Studio::panel);

    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_EQ(window.openPanels.size(), 1u) << "the source file is asked for";

    // A job disables the button; the card stays.
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    settle();
    EXPECT_FALSE(button.isEnabled());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(window.openPanels.size(), 1u);
    analysis.hold = false;
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_TRUE(button.isEnabled());
    saveShot(view(), "source-preview-issue");

    // Choosing the same file again installs a new preview player: the card goes, the picture
    // comes back.
    window.chosenSource = sourceA;
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !workspace->playback().previewIssue && !workspace->job().busy; }));
    settle();
    EXPECT_FALSE(view().issueCard().isVisible());
    preview().finishLoading(analysis.duration);
    preview().setFrameColour(Qt::magenta);
    EXPECT_EQ(centre(), QColor(Qt::magenta));
}

TEST_F(SourcePreviewTest, TheIssueTextWrapsInANarrowAreaAndStaysWhole) {
    shown = std::make_unique<PreviewHost>(*workspace, QSize(220, 260));
    open(sourceA);
    preview().failLoading();
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewIssue.has_value(); }));
    settle();
    QLabel& text = view().issueText();
    const int line = QFontMetrics(text.font()).height();
    EXPECT_GE(text.height(), 2 * line) << "wrapped onto several lines";
    EXPECT_GE(text.height(), text.heightForWidth(text.width())) << "never cut short";
    EXPECT_LE(text.geometry().right(), view().width() - 24);
    EXPECT_TRUE(text.alignment() & Qt::AlignHCenter);
    saveShot(view(), "source-preview-issue-narrow");
}

// ---- With libmpv's software renderer, as the application runs it.

class SourcePreviewMpvTest : public ::testing::Test {
  protected:
    TempDir folder;
    ScriptedAnalysis analysis;
    TestWindow window;
    MpvPlayerFactory players{[] {
        MpvSettings settings;
        settings.audioOutput = "null";
        settings.videoFrames = true;
        return settings;
    }()};
    std::unique_ptr<Workspace> workspace;

    void SetUp() override {
        analysis.duration = 2;
        workspace = std::make_unique<Workspace>(players, std::nullopt, std::vector<std::string>{},
                                                analysis.analyzer());
        workspace->setWindow(&window);
    }
    // A 4:3 film with sound.
    void makeFilm(const std::filesystem::path& file) {
        makeMedia(
            "-f lavfi -i testsrc2=s=160x120:r=10:d=2 -f lavfi -i sine=f=440:r=48000:d=2 "
            "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -shortest",
            file);
    }
};

// True when any pixel of column x is brighter than the black of the bars.
bool columnHasPicture(const QImage& image, int x) {
    for (int y = 0; y < image.height(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (std::max({c.red(), c.green(), c.blue()}) > 24) return true;
    }
    return false;
}

TEST_F(SourcePreviewMpvTest, AFourByThreeFilmFillsTheHeightBetweenBlackBars) {
    const auto film = folder / "film.mp4";
    makeFilm(film);
    workspace->loadSource(film, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->playback().previewReady; }));

    // 320 × 120: the picture is 160 wide in the middle, 80 px of black on each side.
    PreviewHost shown(*workspace, QSize(320, 120));
    QImage image;
    ASSERT_TRUE(waitUntil([&] {
        image = grabbed(*shown.view);
        return columnHasPicture(image, 160);
    })) << "a picture arrives";
    saveShot(*shown.view, "source-preview-film");
    for (const int x : {0, 40, 76, 243, 280, 319}) EXPECT_FALSE(columnHasPicture(image, x)) << x;
    for (const int x : {84, 120, 160, 200, 236}) EXPECT_TRUE(columnHasPicture(image, x)) << x;
    EXPECT_FALSE(shown.view->issueCard().isVisible());
}

TEST_F(SourcePreviewMpvTest, ARecordingHeldUprightIsShownUpright) {
    // 90° and 270° make a portrait picture, 180° a landscape one the right way up.
    for (const int degrees : {90, 180, 270}) {
        SCOPED_TRACE(degrees);
        const auto film = folder / ("turned-" + std::to_string(degrees) + ".mp4");
        makeRotatedVideo(film, degrees);
        const RgbFrame upright = decodedFrame(film);
        workspace->loadSource(film, true);
        ASSERT_TRUE(waitUntil([&] {
            return !workspace->job().busy && workspace->playback().previewReady &&
                   workspace->document().source == film;
        }));

        // 320 × 128: the picture fills the height at ffmpeg's upright shape, centred.
        PreviewHost shown(*workspace, QSize(320, 128));
        const int pictureWidth = 128 * upright.width / upright.height;
        const int left = (320 - pictureWidth) / 2;
        QImage image;
        ASSERT_TRUE(waitUntil([&] {
            image = grabbed(*shown.view);
            return columnHasPicture(image, 160);
        })) << "a picture arrives";
        saveShot(*shown.view, "source-preview-turned-" + std::to_string(degrees));
        EXPECT_FALSE(columnHasPicture(image, left - 4));
        EXPECT_FALSE(columnHasPicture(image, left + pictureWidth + 3));
        for (const auto& [x, y] : {std::pair{1, 1}, std::pair{3, 1}, std::pair{1, 3}, std::pair{3, 3}}) {
            const QColor drawn = at(image, left + x * pictureWidth / 4, y * 128 / 4);
            const auto expected = upright.at(x * upright.width / 4, y * upright.height / 4);
            EXPECT_LE(colourDistance({drawn.red(), drawn.green(), drawn.blue()}, expected), 40)
                << "quarter " << x << "," << y;
        }
    }
}

TEST_F(SourcePreviewMpvTest, ATruncatedFilmShowsTheCardWithItsButton) {
    const auto film = folder / "film.mp4";
    makeFilm(film);
    // The index of an MP4 is written last: cut off, the file cannot be played.
    const auto cut = folder / "cut.mp4";
    std::filesystem::copy_file(film, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(film) / 2);

    PreviewHost shown(*workspace, QSize(480, 270));
    workspace->loadSource(cut, false);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewIssue.has_value(); }));
    settle();
    SourcePreview& view = *shown.view;
    ASSERT_TRUE(view.issueCard().isVisible());
    EXPECT_EQ(view.issueTitle().text().toStdString(), kCardTitle);
    EXPECT_EQ(view.issueText().text().toStdString(), kFailedText);
    EXPECT_TRUE(view.reselectButton().isVisible());
    EXPECT_TRUE(view.reselectButton().isEnabled());
    EXPECT_FALSE(view.picture().isVisible());
    saveShot(view, "source-preview-truncated");
}

}  // namespace
}  // namespace talvian::test
