#include <algorithm>
#include <filesystem>

#include "PlaybackFixture.h"
#include "Workspace/PlaybackClock.h"

namespace talvian::test {
namespace {

// The default analysis removes [1, 2], [4, 5.5] and [7, 7.5] of 10 s. An audition of the
// second pause covers 2.8 … 6.7 with 1.2 s of context.
const std::string kOriginalDescription = "原音试听 · 原素材 00:02.8–00:06.7";
const std::string kEditedDescription = "剪后试听 · 原素材 00:02.8–00:06.7";
const std::string kFullDescription = "完整剪后试听 · 原片位置";

TEST_F(PlaybackTest, OnePauseAsRecordedAndAsEditedMapsTheCursorToSourceTime) {
    struct Case {
        AuditionMode mode;
        std::string preparing;
        std::string description;
        double sourceAfterOnePointThree;  // where the cursor is after 1.3 s of playing
    };
    const Case cases[] = {
        {AuditionMode::original, "正在准备原音试听…", kOriginalDescription, 4.1},
        // The edited version plays 2.8 … 4 and 5.5 … 6.7: 1.3 s in is 0.1 s past the removed pause.
        {AuditionMode::edited, "正在准备剪后试听…", kEditedDescription, 5.6},
    };
    openReady();
    const Uuid id = cut(1).id;
    for (const Case& c : cases) {
        workspace->togglePlayback();  // the preview plays; the audition pauses it
        workspace->audition(id, c.mode);
        EXPECT_EQ(workspace->review().reviewID, id);
        EXPECT_EQ(workspace->auditionID(), id);
        EXPECT_TRUE(workspace->guards().auditionLoading);
        EXPECT_EQ(workspace->auditionStatus(), c.preparing);
        EXPECT_EQ(preview().rate(), 0);
        FakePlayer& player = playAudition();
        EXPECT_EQ(player.timeline()->mode, c.mode);
        EXPECT_EQ(player.timeline()->source, sourceA);
        EXPECT_EQ(workspace->auditionStatus(), c.description + " · 播完自动停止");
        EXPECT_TRUE(workspace->playback().isPlaying);
        EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 2.8);
        EXPECT_EQ(workspace->auditionSourceRange(), std::make_pair(2.8, 6.7));
        player.advance(1.3);
        settle();
        EXPECT_NEAR(workspace->playbackClock().position(), c.sourceAfterOnePointThree, 1e-9);
        // The preview stood aside: its ticks and state did not move.
        EXPECT_EQ(preview().rate(), 0);
    }
}

TEST_F(PlaybackTest, PauseResumeAndTheEndWithoutLoop) {
    openReady();
    workspace->audition(cut(1).id, AuditionMode::original);
    FakePlayer& player = playAudition();
    workspace->togglePlayback();
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 已暂停");
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_EQ(player.rate(), 0);
    settle();
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 已暂停");
    workspace->togglePlayback();
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 播完自动停止");

    player.advance(5);
    settle();
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 已结束");
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 6.7);
    EXPECT_EQ(workspace->auditionID(), cut(1).id) << "the ended audition stays selected";
    // Turning the loop on does not hide that it ended; play starts it again from 0.
    workspace->setRepeatAudition(true);
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 已结束");
    workspace->togglePlayback();
    EXPECT_EQ(player.seekLog().back(), 0);
    EXPECT_GT(player.rate(), 0);
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 循环试听");
}

TEST_F(PlaybackTest, ALoopRestartsWithoutEndingAndPlayPauseDuringTheRestartPauses) {
    openReady();
    workspace->audition(cut(1).id, AuditionMode::edited);
    FakePlayer& player = playAudition();
    workspace->setRepeatAudition(true);
    EXPECT_EQ(workspace->auditionStatus(), kEditedDescription + " · 循环试听");
    std::vector<std::string> statuses;
    QObject::connect(workspace.get(), &Workspace::changed,
                     [&] { statuses.push_back(workspace->auditionStatus().value_or("")); });
    player.advance(5);
    settle();
    EXPECT_TRUE(std::none_of(statuses.begin(), statuses.end(),
                             [](const std::string& status) { return status.ends_with(" · 已结束"); }));
    EXPECT_EQ(player.seekLog().back(), 0);
    EXPECT_GT(player.rate(), 0);
    EXPECT_TRUE(workspace->playback().isPlaying);
    EXPECT_EQ(workspace->auditionStatus(), kEditedDescription + " · 循环试听");
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 2.8);

    // The restart's seek is held: play/pause cancels it and the late completion is void.
    player.setHoldSeeks(true);
    player.advance(5);
    settle();
    EXPECT_TRUE(workspace->playback().isPlaying) << "a pending restart counts as playing";
    workspace->togglePlayback();
    EXPECT_EQ(workspace->auditionStatus(), kEditedDescription + " · 已暂停");
    player.completeSeeks(true);
    settle();
    EXPECT_EQ(player.rate(), 0);
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_EQ(workspace->auditionStatus(), kEditedDescription + " · 已暂停");
}

TEST_F(PlaybackTest, StoppingReturnsThePreviewToTheCursorWithTheSoundAndSpeedOfTheAudition) {
    openReady();
    workspace->audition(cut(1).id, AuditionMode::original);
    FakePlayer& player = playAudition();
    workspace->setRepeatAudition(true);
    workspace->setPlaybackSpeed(1.5f);
    EXPECT_EQ(player.defaultRate(), 1.5f);
    EXPECT_EQ(player.rate(), 1.5f);
    player.setMuted(true);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().soundMuted; }));
    EXPECT_FALSE(preview().isMuted());
    player.advance(1);  // 1.5 s of audition time: source 4.3
    settle();
    workspace->stopAudition(true);
    EXPECT_FALSE(workspace->auditionID());
    EXPECT_FALSE(workspace->auditionPlayer());
    EXPECT_FALSE(workspace->auditionStatus());
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_TRUE(workspace->playback().repeatAudition) << "the loop setting survives a stop";
    EXPECT_NEAR(preview().seekLog().back(), 4.3, 1e-9);
    EXPECT_EQ(preview().defaultRate(), 1.5f);
    EXPECT_EQ(workspace->playback().speed, 1.5f);
    EXPECT_TRUE(preview().isMuted());
    EXPECT_TRUE(workspace->playback().soundMuted);
    // A new source turns the loop off and starts at normal speed.
    workspace->loadSource(sourceB, false);
    EXPECT_FALSE(workspace->playback().repeatAudition);
    EXPECT_EQ(workspace->playback().speed, 1.0f);
}

TEST_F(PlaybackTest, TheWholeEditStartsAtTheSourcePositionInPlaybackTime) {
    openReady();
    // Kept: 0–1, 2–4, 5.5–7, 7.5–10. Source 4.5 lies in a removed range: the audition starts
    // where the next kept stretch begins, playback time 3.
    preview().seek(4.5);
    settle();
    workspace->auditionFull();
    EXPECT_EQ(workspace->auditionStatus(), "正在准备完整剪后试听…");
    EXPECT_TRUE(workspace->auditionIsFull());
    FakePlayer& player = playAudition();
    EXPECT_EQ(player.seekLog(), std::vector<double>{3.0});
    EXPECT_EQ(workspace->auditionStatus(), kFullDescription + " · 播完自动停止");
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 5.5);
    EXPECT_FALSE(workspace->auditionSourceRange());
    EXPECT_FALSE(workspace->review().reviewID);

    // Started again from the running audition, the position is taken over in source time.
    player.advance(1);  // source 6.5
    settle();
    workspace->auditionFull();
    FakePlayer& again = playAudition();
    EXPECT_EQ(again.seekLog(), std::vector<double>{4.0});
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 6.5);

    // At the end of the edit it starts from the beginning, without a seek.
    workspace->stopAudition(false);
    preview().seek(10);
    settle();
    workspace->auditionFull();
    FakePlayer& fromStart = playAudition();
    EXPECT_TRUE(fromStart.seekLog().empty());
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 0);
}

TEST_F(PlaybackTest, AWholeEditWhosePositioningFailsStopsWithItsText) {
    openReady();
    players.onCreate = [](FakePlayer& player) { player.setHoldSeeks(player.timeline().has_value()); };
    preview().seek(3);
    settle();
    workspace->auditionFull();
    ASSERT_TRUE(waitUntil([&] { return auditionPlayer() != nullptr; }));
    FakePlayer& player = *auditionPlayer();
    player.finishLoading(player.timeline()->durationSeconds());
    settle();
    EXPECT_TRUE(workspace->guards().auditionLoading);
    player.completeSeeks(false);
    ASSERT_TRUE(waitUntil([&] { return !workspace->auditionID(); }));
    EXPECT_EQ(workspace->job().notice, "无法定位试听位置，请重试。");
    EXPECT_FALSE(workspace->auditionPlayer());
    EXPECT_FALSE(workspace->playback().isPlaying);
}

TEST_F(PlaybackTest, FailedPreparationsStopTheAuditionWithTheirTexts) {
    struct Case {
        std::string name;
        std::function<void()> before;             // after opening, before the audition
        std::function<void(FakePlayer&)> script;  // the audition player, once made
        std::string notice;
    };
    const Case cases[] = {
        // The scripted audition player never loads by itself; the time-out may also come first.
        {"time-out", [this] { workspace->setLoadTimeout(std::chrono::milliseconds(40)); }, nullptr,
         "对比试听加载超时，请重新试听或重新选择原素材。"},
        {"item fails", [] {}, [](FakePlayer& player) { player.failLoading(); },
         "这份素材暂时无法对比试听，请重新选择原素材。"},
        {"missing source", [this] { std::filesystem::remove(sourceA); }, nullptr,
         "无法试听：" + MissingProjectSource(sourceA.string()).message()},
        {"changed source", [this] { makeMedia("-f lavfi -i sine=f=440:r=48000:d=11", sourceA); }, nullptr,
         "无法试听：源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        openReady();
        c.before();
        preview().seek(6);
        settle();
        workspace->audition(cut(1).id, AuditionMode::original);
        if (c.script) {
            ASSERT_TRUE(waitUntil([&] { return auditionPlayer() != nullptr; }));
            c.script(*auditionPlayer());
        }
        ASSERT_TRUE(waitUntil([&] { return workspace->job().notice.has_value(); }));
        EXPECT_EQ(workspace->job().notice, c.notice);
        EXPECT_FALSE(workspace->auditionID());
        EXPECT_FALSE(workspace->guards().auditionLoading);
        EXPECT_FALSE(workspace->auditionStatus());
        EXPECT_EQ(workspace->review().reviewID, cut(1).id);
        // Back where the cursor was: the audition had shown its window start.
        EXPECT_DOUBLE_EQ(preview().seekLog().back(), workspace->playbackClock().position());
    }
}

TEST_F(PlaybackTest, APlanWithNothingKeptIsRefusedWithItsText) {
    analysis.cuts = [](const CutOptions&) {
        return std::vector<CutRegion>{CutRegion(2.5, 4, true), CutRegion(4, 5.5, true),
                                      CutRegion(5.5, 7, true)};
    };
    openReady();
    workspace->audition(cut(1).id, AuditionMode::edited);
    const std::string text = "这段试听范围内没有保留内容。请先恢复区间，或听原音。";
    EXPECT_EQ(workspace->job().notice, text);
    // Diagnostics keep only the privacy-filtered form of a text outside the known few.
    EXPECT_EQ(workspace->lastDiagnosticError(), "发生错误。为保护隐私，详细错误文案已省略。");
    EXPECT_FALSE(workspace->auditionID());
    settle();
    EXPECT_EQ(players.created.size(), 2u) << "no audition player was made";
}

TEST_F(PlaybackTest, OnlyTheLatestOfTwoQuickStartsIsInstalled) {
    openReady();
    workspace->audition(cut(0).id, AuditionMode::original);
    workspace->audition(cut(1).id, AuditionMode::original);
    FakePlayer& player = playAudition();
    waitUntil([] { return false; }, 100);
    std::size_t auditionPlayers = 0;
    for (const auto& made : players.created)
        if (made && made->timeline()) ++auditionPlayers;
    EXPECT_EQ(auditionPlayers, 1u);
    EXPECT_EQ(player.timeline()->segments.front().sourceStartTicks, auditionTicks(2.8));
    EXPECT_EQ(workspace->auditionStatus(), kOriginalDescription + " · 播完自动停止");
}

TEST_F(PlaybackTest, ReviewNavigationAuditionsEachPauseAsRecorded) {
    openReady();
    // Without a pause under review the menu command takes the first of the review order.
    workspace->setReviewOrder(ReviewOrder::longestFirst);
    workspace->auditionReview(AuditionMode::edited);
    EXPECT_EQ(workspace->auditionID(), cut(1).id);
    EXPECT_EQ(workspace->playback().auditionMode, AuditionMode::edited);
    workspace->stopAudition(false);
    workspace->setReviewOrder(ReviewOrder::chronological);
    workspace->selectCutRow(cut(0).id, false, false);
    workspace->moveReview(-1);
    EXPECT_FALSE(workspace->auditionID()) << "nothing before the first pause";
    workspace->moveReview(1);
    EXPECT_EQ(workspace->review().reviewID, cut(1).id);
    workspace->rewindReview();
    EXPECT_EQ(workspace->review().reviewID, cut(0).id);
    EXPECT_EQ(workspace->auditionID(), cut(0).id);
    EXPECT_EQ(workspace->playback().auditionMode, AuditionMode::original);
    workspace->moveReview(1);
    workspace->moveReview(1);
    EXPECT_EQ(workspace->auditionID(), cut(2).id);
    workspace->rewindReview();
    EXPECT_EQ(workspace->auditionID(), cut(0).id);
    workspace->auditionReview(AuditionMode::edited);
    EXPECT_EQ(workspace->auditionID(), cut(0).id);
    EXPECT_EQ(workspace->playback().auditionMode, AuditionMode::edited);
}

TEST_F(PlaybackTest, ATypedRangeIsAuditionedAsADraftAndStopsWhenItsTextChanges) {
    openReady();
    workspace->setManualStart("8.2");
    workspace->setManualEnd("9");
    workspace->auditionManual(AuditionMode::edited);
    EXPECT_FALSE(workspace->review().reviewID);
    EXPECT_TRUE(workspace->auditionIsManual());
    EXPECT_TRUE(workspace->auditionIsDraft());
    EXPECT_EQ(workspace->auditionStatus(), "正在准备待添加剪后试听…");
    playAudition();
    EXPECT_EQ(workspace->auditionStatus(), "待添加剪后试听 · 原素材 00:07.0–00:10.0 · 播完自动停止");
    EXPECT_FALSE(workspace->guards().canCaptureManualPosition) << "a draft audition plays";
    workspace->setManualEnd("9");
    EXPECT_TRUE(workspace->auditionID()) << "the same text changes nothing";
    workspace->setManualEnd("9.5");
    EXPECT_FALSE(workspace->auditionID());
}

TEST_F(PlaybackTest, OnlyAuditionsOfSavedContentTakeTheKeyboardFromATextField) {
    openReady();
    struct Case {
        std::string name;
        std::function<void()> start;
        int ends;
    };
    const Case cases[] = {
        {"pause", [this] { workspace->audition(cut(1).id, AuditionMode::original); }, 1},
        {"whole edit", [this] { workspace->auditionFull(); }, 1},
        {"typed range",
         [this] {
             workspace->setManualStart("8.2");
             workspace->setManualEnd("9");
             workspace->auditionManual(AuditionMode::original);
         },
         0},
        {"adjustment draft",
         [this] {
             const auto draft = *workspace->adjustmentProject(cut(1).id, 3.5, 5.5);
             workspace->beginAudition(draft.cuts[1], draft, AuditionMode::edited, true, false);
         },
         0},
    };
    for (const Case& c : cases) {
        workspace->stopAudition(false);
        const int before = window.textEditingEnds;
        c.start();
        EXPECT_TRUE(workspace->auditionID()) << c.name;
        EXPECT_EQ(window.textEditingEnds - before, c.ends) << c.name;
    }
}

TEST_F(PlaybackTest, AnAdjustmentDraftStopsOnlyForItsOwnRegion) {
    openReady();
    const Uuid id = cut(1).id;
    EXPECT_FALSE(workspace->adjustmentProject(id, 0, 0.08));
    EXPECT_FALSE(workspace->adjustmentProject(id, 9, 10.5));
    EXPECT_FALSE(workspace->adjustmentProject(Uuid::random(), 3, 4));
    const auto moved = workspace->adjustmentProject(id, 0, 0.09);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->cuts[1].id, id);
    EXPECT_EQ(moved->cuts[1].start, 0);
    EXPECT_EQ(moved->cuts[1].end, 0.09);

    const auto draft = *workspace->adjustmentProject(id, 3.5, 5.5);
    workspace->beginAudition(draft.cuts[1], draft, AuditionMode::original, true, false);
    EXPECT_EQ(workspace->review().reviewID, id);
    EXPECT_EQ(workspace->auditionStatus(), "正在准备草稿原音试听…");
    workspace->stopAdjustmentAudition(cut(0).id);
    EXPECT_EQ(workspace->auditionID(), id);
    workspace->stopAdjustmentAudition(id);
    EXPECT_FALSE(workspace->auditionID());
    // A saved region's audition is no draft.
    workspace->audition(id, AuditionMode::original);
    workspace->stopAdjustmentAudition(id);
    EXPECT_EQ(workspace->auditionID(), id);
}

TEST_F(PlaybackTest, CapturingDuringAnEditedAuditionStoresTheSourceTime) {
    openReady();
    workspace->audition(cut(1).id, AuditionMode::edited);
    FakePlayer& player = playAudition();
    player.advance(1.3);
    settle();
    EXPECT_TRUE(workspace->captureManualPosition(CutBoundary::start));
    EXPECT_EQ(workspace->review().manualStart, "5.600");
    EXPECT_FALSE(workspace->auditionID());
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_EQ(workspace->job().status, "已取原片位置 5.600 秒作为起点；点“添加删除区间”后才会修改剪辑。");
}

TEST_F(PlaybackTest, CapturingTheLastFrameNeverStoresATimeBeyondTheEnd) {
    analysis.duration = 9.9996;
    openReady();
    preview().seek(9.9996);
    settle();
    EXPECT_TRUE(workspace->captureManualPosition(CutBoundary::end));
    EXPECT_EQ(workspace->review().manualEnd, "9.9996");
    EXPECT_EQ(workspace->job().status, "已取原片位置 9.9996 秒作为终点；点“添加删除区间”后才会修改剪辑。");
}

TEST_F(PlaybackTest, CaptureNeedsTheReadyPreview) {
    open(sourceA);
    EXPECT_FALSE(workspace->guards().canCaptureManualPosition);
    EXPECT_FALSE(workspace->captureManualPosition(CutBoundary::start));
    EXPECT_EQ(workspace->review().manualStart, "0");
}

}  // namespace
}  // namespace talvian::test
