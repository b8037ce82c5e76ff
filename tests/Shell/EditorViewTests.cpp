#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include "Analysis/SourceRelocation.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/ProjectFiles.h"
#include "Process/Runner.h"
#include "Shell/EditorLayout.h"
#include "Shell/EditorView.h"
#include "Shell/FooterBar.h"
#include "Shell/TimelineArea.h"
#include "ShellFixture.h"
#include "Views/ManualCutForm.h"
#include "Views/WaveformView.h"
#include "Workspace/PlaybackClock.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;
using EditorLayout::Banner;

const QString kFirstAnalysisHint = QStringLiteral("分析完成后，停顿会直接标在波形上。");

// ---- Pure rules

TEST(EditorLayout, SizesTable) {
    struct Case {
        double height;
        bool banner;
        double timeline, mainRow, list;
    };
    const Case cases[] = {
        // The smallest window.
        {760, false, 260.4, 349.6, 300},
        {760, true, 260.4, 305.6, 300},
        // The list widens at 790.
        {789.9, false, 267.576, 372.324, 300},
        {789.9, true, 267.576, 328.324, 300},
        {790, false, 267.6, 372.4, 330},
        {790, true, 267.6, 328.4, 330},
        {1000, false, 318, 532, 330},
        {1000, true, 318, 488, 330},
        // Shorter than any window: both parts keep their least heights.
        {500, false, 260, 220, 300},
        {600, true, 260, 220, 300},
    };
    for (const Case& c : cases) {
        const auto sizes = EditorLayout::sizes(c.height, c.banner);
        EXPECT_NEAR(sizes.timelineHeight, c.timeline, 1e-9) << c.height << " " << c.banner;
        EXPECT_NEAR(sizes.mainRowHeight, c.mainRow, 1e-9) << c.height << " " << c.banner;
        EXPECT_EQ(sizes.listWidth, c.list) << c.height;
    }
}

TEST(EditorLayout, ARecoveryCardComesOutOfTheMainRow) {
    struct Case {
        double height;
        bool banner;
        double card, mainRow;
    };
    const Case cases[] = {
        {820, false, 0, 395.2},
        // The card and one spacing of the stack.
        {820, false, 145, 236.2},
        {820, true, 145, 220},
        {1000, false, 145, 373},
        {760, false, 145, 220},
    };
    for (const Case& c : cases) {
        const auto sizes = EditorLayout::sizes(c.height, c.banner, c.card);
        EXPECT_NEAR(sizes.mainRowHeight, c.mainRow, 1e-9) << c.height << " " << c.banner << " " << c.card;
        EXPECT_EQ(sizes.timelineHeight, EditorLayout::sizes(c.height, c.banner).timelineHeight);
    }
}

TEST(EditorLayout, BannerRuleTable) {
    struct Case {
        bool busy, project, readIssue, needsSaving, needsAnalysis;
        Banner banner;
    };
    const Case cases[] = {
        // An open edit: all sixteen combinations of the four conditions.
        {false, true, false, false, false, Banner::none},
        {false, true, false, false, true, Banner::changedSettings},
        {false, true, false, true, false, Banner::relocated},
        {false, true, false, true, true, Banner::relocated},
        {false, true, true, false, false, Banner::sourceRead},
        {false, true, true, false, true, Banner::sourceRead},
        {false, true, true, true, false, Banner::sourceRead},
        {false, true, true, true, true, Banner::sourceRead},
        {true, true, false, false, false, Banner::busy},
        {true, true, false, false, true, Banner::busy},
        {true, true, false, true, false, Banner::busy},
        {true, true, false, true, true, Banner::busy},
        {true, true, true, false, false, Banner::busy},
        {true, true, true, false, true, Banner::busy},
        {true, true, true, true, false, Banner::busy},
        {true, true, true, true, true, Banner::busy},
        // No project yet: a first analysis shows its panel, and unanalysed is no change.
        {true, false, false, false, true, Banner::none},
        {false, false, false, false, true, Banner::none},
        {true, false, true, false, true, Banner::sourceRead},
        {false, false, false, true, true, Banner::relocated},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EditorLayout::banner(c.busy, c.project, c.readIssue, c.needsSaving, c.needsAnalysis),
                  c.banner)
            << c.busy << c.project << c.readIssue << c.needsSaving << c.needsAnalysis;
}

TEST(TimelineArea, TheLoadingLabelWinsOverTheIssue) {
    using Note = TimelineArea::WaveformNote;
    EXPECT_EQ(TimelineArea::waveformNote(false, false), Note::none);
    EXPECT_EQ(TimelineArea::waveformNote(true, false), Note::loading);
    EXPECT_EQ(TimelineArea::waveformNote(false, true), Note::issue);
    EXPECT_EQ(TimelineArea::waveformNote(true, true), Note::loading);
}

// ---- The editor in the window

// Counts the moves and resizes of the widgets it watches.
class GeometryWatch : public QObject {
  public:
    explicit GeometryWatch(std::initializer_list<QWidget*> widgets) {
        for (QWidget* widget : widgets) widget->installEventFilter(this);
    }
    int changes = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) ++changes;
        return false;
    }
};

class EditorViewTest : public ShellTest {
  protected:
    EditorView& editor() { return view().editor(); }
    TimelineArea& timeline() { return editor().timeline(); }

    void resizeWindow(int width, int height) {
        mainWindow->resize(width, height);
        QCoreApplication::processEvents();
        ASSERT_EQ(view().size(), QSize(width, height));
    }
    // Saves the window at both sizes a person should look at.
    void shots(const std::string& name) {
        const QSize size = mainWindow->size();
        resizeWindow(1280, 820);
        saveShot(*mainWindow, name + "-1280x820");
        resizeWindow(940, 760);
        saveShot(*mainWindow, name + "-940x760");
        resizeWindow(size.width(), size.height());
    }
    QStringList editorTexts() { return visibleTexts(editor()); }
    QAbstractButton* bannerButton(const char* text) {
        return buttonWithText(editor().bannerRow(), QString::fromUtf8(text));
    }
    // Whether some pixel near the middle of the preview area has the symbol's colour.
    bool previewShowsSymbol() {
        QWidget& row = editor().mainRow();
        const QImage image = row.grab().toImage();
        const double ratio = image.devicePixelRatio();
        const int listWidth = static_cast<int>(std::lround(editor().sizes().listWidth));
        const QPoint centre((row.width() - listWidth - 22) / 2, row.height() / 2 - 20);
        for (int y = centre.y() - 40; y <= centre.y() + 40; ++y)
            for (int x = centre.x() - 40; x <= centre.x() + 40; ++x) {
                const QColor pixel =
                    image.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio));
                if (std::abs(pixel.red() - Studio::secondary.red()) < 8 &&
                    std::abs(pixel.blue() - Studio::secondary.blue()) < 8)
                    return true;
            }
        return false;
    }
    // A saved project of a copy of `source` whose copy is then moved away: opening it finds
    // no source but can relocate it to `moved`.
    fs::path projectWithMovedSource(const fs::path& moved) {
        const fs::path copy = folder / "talk.wav";
        fs::copy_file(sourceA, copy);
        CutProject project = makeProject(copy, 10, {CutRegion(1, 2, true), CutRegion(4, 5, false)});
        project = SourceRelocation::prepareForSave(project, Cancellation());
        const fs::path file = folder / "talk.quenlo.json";
        VevazAvezud::save(project, file);
        fs::rename(copy, moved);
        return file;
    }
};

TEST_F(EditorViewTest, AtTheSmallestWindowTheSizesAreTheTablesAndARecoveryCardDoesNotEnlargeIt) {
    showWindow();
    resizeWindow(940, 760);
    open(sourceA);
    ASSERT_EQ(editor().banner(), Banner::none);
    EXPECT_EQ(editor().mainRow().height(), 350);
    EXPECT_EQ(editor().timeline().height(), 260);
    const auto columns = editor().mainRow().findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(columns.size(), 2);
    EXPECT_EQ(columns.back()->width(), 300);
    // Padding, main row, spacing, timeline, padding: exactly the page.
    EXPECT_EQ(editor().timeline().geometry().bottom() + 1 + 16, editor().height());

    // A second project whose source is missing: its card shows over the edit on screen.
    const fs::path file = projectWithMovedSource(folder / "moved.wav");
    workspace->beginProjectLoad(file);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_TRUE(workspace->document().projectRecovery);
    ASSERT_TRUE(workspace->document().project);
    QCoreApplication::processEvents();
    EXPECT_TRUE(editorTexts().contains(QStringLiteral("找不到原素材")));
    EXPECT_EQ(mainWindow->size(), QSize(940, 760));
    EXPECT_EQ(view().size(), QSize(940, 760));
    auto* card = editor().findChild<RecoveryCard*>();
    ASSERT_TRUE(card && card->isVisible());
    EXPECT_EQ(editor().mainRow().y(), card->geometry().bottom() + 1 + 14);
    // The card comes out of the main row, which is already near its least height here.
    EXPECT_EQ(editor().mainRow().height(), std::max(350 - card->height() - 14, 220));
    EXPECT_EQ(editor().timeline().height(), 260);
    // The footer keeps its place at the bottom.
    auto* footer = view().findChild<FooterBar*>();
    EXPECT_EQ(footer->mapTo(&view(), QPoint(0, footer->height())).y(), 760);
    shots("editor-recovery-card");
}

TEST_F(EditorViewTest, ARecoveryCardLeavesTheWaveformAboveTheFooter) {
    struct Case {
        int width, height;
        bool banner;
    };
    // The default window, with and without a banner (which then reaches into the padding).
    const Case cases[] = {{1280, 820, false}, {1280, 820, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " banner " << c.banner);
        mainWindow.reset();
        workspace = makeWorkspace();
        showWindow();
        resizeWindow(c.width, c.height);
        open(sourceA);
        if (c.banner) {
            CutOptions options = workspace->detection().cutOptions;
            options.thresholdDB -= 5;
            workspace->setCutOptions(options);
        }
        settle();
        ASSERT_EQ(editor().banner(), c.banner ? Banner::changedSettings : Banner::none);
        const fs::path file = projectWithMovedSource(folder / ("moved-" + std::to_string(c.height) + ".wav"));
        workspace->beginProjectLoad(file);
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
        ASSERT_TRUE(workspace->document().projectRecovery);
        QCoreApplication::processEvents();
        auto* card = editor().findChild<RecoveryCard*>();
        ASSERT_TRUE(card && card->isVisible());

        auto* waveform = editor().findChild<WaveformView*>();
        ASSERT_TRUE(waveform && waveform->isVisible());
        auto* footer = view().findChild<FooterBar*>();
        const int footerTop = footer->mapTo(&view(), QPoint(0, 0)).y();
        const int waveformBottom = waveform->mapTo(&view(), QPoint(0, waveform->height())).y();
        EXPECT_LE(waveformBottom, footerTop);
        const int timelineBottom = timeline().mapTo(&view(), QPoint(0, timeline().height())).y();
        EXPECT_LE(timelineBottom, footerTop);
        if (c.width == 1280 && !c.banner) saveShot(*mainWindow, "editor-recovery-card-default");

        // Dismissing the card gives its room back to the main row.
        const int withCard = editor().mainRow().height();
        workspace->dismissProjectRecovery();
        QCoreApplication::processEvents();
        EXPECT_EQ(withCard, std::max(editor().mainRow().height() - card->height() - 14, 220));
        fs::remove(file);
    }
}

TEST_F(EditorViewTest, TheFirstAnalysisShowsThePanelAndTheEmptyTimelineThenTheTimeline) {
    analysis.hold = true;
    showWindow();
    workspace->loadSource(sourceA, true);
    ASSERT_TRUE(workspace->job().busy);
    QCoreApplication::processEvents();
    EXPECT_TRUE(editor().isVisible());
    EXPECT_TRUE(editor().analysisPanel().isVisible());
    const QStringList panel = visibleTexts(editor().analysisPanel());
    EXPECT_TRUE(panel.contains(QStringLiteral("正在查找停顿…")));
    EXPECT_TRUE(panel.contains(QString::fromStdString(workspace->job().status)));
    EXPECT_TRUE(panel.contains(QStringLiteral("取消")));
    EXPECT_EQ(editor().analysisPanel().findChild<StudioProgress*>()->width(), 240);
    EXPECT_FALSE(timeline().showsTimeline());
    EXPECT_TRUE(visibleTexts(timeline()).contains(QStringLiteral("波形")));
    EXPECT_TRUE(visibleTexts(timeline()).contains(kFirstAnalysisHint));
    // No project yet: neither the busy nor the changed-settings banner.
    EXPECT_EQ(editor().banner(), Banner::none);
    EXPECT_FALSE(editor().bannerRow().isVisible());
    ASSERT_TRUE(waitUntil([&] { return workspace->job().progress == 0.5; }));
    settle();
    EXPECT_EQ(editor().analysisPanel().findChild<StudioProgress*>()->fraction(), 0.5);
    EXPECT_TRUE(visibleTexts(editor().analysisPanel()).contains(QStringLiteral("解码原始音频")));
    shots("editor-analysis-panel");

    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_TRUE(timeline().showsTimeline());
    EXPECT_TRUE(timeline().waveform().isVisible());
    EXPECT_FALSE(editor().analysisPanel().isVisible());
    EXPECT_EQ(editor().banner(), Banner::none);
    shots("editor-project");
}

TEST_F(EditorViewTest, ThePanelsCancelStopsTheFirstAnalysisAndTheEmptyTimelineShowsTheStatus) {
    analysis.hold = true;
    showWindow();
    workspace->loadSource(sourceA, true);
    QCoreApplication::processEvents();
    QAbstractButton* cancel = buttonWithText(editor().analysisPanel(), QStringLiteral("取消"));
    ASSERT_TRUE(cancel && cancel->isVisible());
    cancel->click();
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_FALSE(workspace->document().project);
    EXPECT_FALSE(editor().analysisPanel().isVisible());
    EXPECT_FALSE(timeline().showsTimeline());
    ASSERT_FALSE(workspace->job().status.empty());
    const QStringList texts = visibleTexts(timeline());
    EXPECT_TRUE(texts.contains(QString::fromStdString(workspace->job().status)));
    EXPECT_FALSE(texts.contains(kFirstAnalysisHint));
    shots("editor-empty-timeline");
}

TEST_F(EditorViewTest, AReanalysisShowsOnlyTheBusyBannerAndTheChangedSettingsBannerAfterIt) {
    showWindow();
    resizeWindow(940, 760);
    open(sourceA);
    CutOptions changed = workspace->detection().cutOptions;
    changed.thresholdDB -= 5;
    workspace->setCutOptions(changed);
    settle();
    ASSERT_TRUE(workspace->guards().needsAnalysis);
    EXPECT_EQ(editor().banner(), Banner::changedSettings);
    EXPECT_TRUE(editorTexts().contains(QStringLiteral("参数已变化，需要重新分析。")));
    // The banner takes its 44 from the main row only.
    EXPECT_EQ(editor().mainRow().height(), 306);
    EXPECT_EQ(editor().timeline().height(), 260);
    shots("editor-banner-changed-settings");

    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    QCoreApplication::processEvents();
    EXPECT_EQ(editor().banner(), Banner::busy);
    QStringList texts = visibleTexts(editor().bannerRow());
    EXPECT_TRUE(texts.contains(QString::fromStdString(workspace->job().status)));
    EXPECT_TRUE(texts.contains(QStringLiteral("取消")));
    EXPECT_FALSE(texts.contains(QStringLiteral("参数已变化，需要重新分析。")));
    EXPECT_FALSE(editor().analysisPanel().isVisible());

    // A progress report changes the bar and the status, and nothing else moves or is rebuilt.
    auto* progress = editor().bannerRow().findChild<StudioProgress*>();
    ASSERT_TRUE(progress && progress->isVisible());
    const auto children = editor().findChildren<QWidget*>();
    GeometryWatch watch{&editor().mainRow(), &timeline(), &editor().bannerRow()};
    ASSERT_TRUE(waitUntil([&] { return workspace->job().progress == 0.5; }));
    settle();
    EXPECT_EQ(progress->fraction(), 0.5);
    EXPECT_TRUE(visibleTexts(editor().bannerRow()).contains(QStringLiteral("解码原始音频")));
    EXPECT_EQ(editor().findChildren<QWidget*>(), children);
    EXPECT_EQ(watch.changes, 0);
    shots("editor-banner-busy");

    // Cancelled: the settings still differ, so the changed-settings banner returns.
    bannerButton("取消")->click();
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_EQ(editor().banner(), Banner::changedSettings);
    bannerButton("恢复本次分析参数")->click();
    settle();
    EXPECT_FALSE(workspace->guards().needsAnalysis);
    EXPECT_EQ(editor().banner(), Banner::none);
    EXPECT_FALSE(editor().bannerRow().isVisible());
    EXPECT_EQ(editor().mainRow().height(), 350);

    analysis.hold = false;
    workspace->setCutOptions(changed);
    settle();
    const auto calls = analysis.calls().size();
    bannerButton("重新分析")->click();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_EQ(analysis.calls().size(), calls + 1);
    EXPECT_EQ(analysis.calls().back(), changed);
    EXPECT_EQ(editor().banner(), Banner::none);
}

TEST_F(EditorViewTest, ASourceReadTimeOutOffersChoosingTheSourceAgain) {
    showWindow();
    open(sourceA);
    analysis.thrown = std::make_exception_ptr(ProcessTimeout());
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    ASSERT_TRUE(workspace->playback().sourceReadIssue);
    EXPECT_EQ(editor().banner(), Banner::sourceRead);
    EXPECT_TRUE(visibleTexts(editor().bannerRow())
                    .contains(QString::fromStdString(*workspace->playback().sourceReadIssue)));
    shots("editor-banner-source-read");

    // The file panels answer from the test.
    workspace->setWindow(&window);
    window.chosenSource = sourceA;
    bannerButton("重新选择同一素材…")->click();
    ASSERT_EQ(window.openPanels.size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_FALSE(workspace->playback().sourceReadIssue);
    EXPECT_EQ(editor().banner(), Banner::none);
}

TEST_F(EditorViewTest, ARelocatedSourceAsksForASaveUntilItIsSaved) {
    const fs::path moved = folder / "moved.wav";
    const fs::path file = projectWithMovedSource(moved);
    showWindow();
    // The file panels answer from the test.
    workspace->setWindow(&window);
    workspace->beginProjectLoad(file);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_TRUE(workspace->document().projectRecovery);
    window.chosenSource = moved;
    workspace->relocateSource(workspace->document().projectRecovery);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    ASSERT_TRUE(workspace->document().sourceLocationNeedsSaving);
    EXPECT_EQ(editor().banner(), Banner::relocated);
    EXPECT_TRUE(visibleTexts(editor().bannerRow())
                    .contains(QStringLiteral("已核对并找回同一原片，剪辑已保留。请保存项目以记录新位置。")));
    shots("editor-banner-relocated");

    window.chosenSaveLocation = file;
    bannerButton("保存新位置…")->click();
    ASSERT_EQ(window.savePanels.size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_FALSE(workspace->document().sourceLocationNeedsSaving);
    EXPECT_EQ(editor().banner(), Banner::none);
}

TEST_F(EditorViewTest, AnAudioRecordingShowsTheSymbolOnlyOnceAnalysedAndAVideoNever) {
    analysis.hold = true;
    showWindow();
    workspace->loadSource(sourceA, true);
    workspace->cancelCut();
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_FALSE(workspace->document().project);
    QCoreApplication::processEvents();
    EXPECT_FALSE(previewShowsSymbol());

    analysis.hold = false;
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_TRUE(workspace->document().project);
    ASSERT_FALSE(workspace->document().project->info.hasVideo);
    QCoreApplication::processEvents();
    EXPECT_TRUE(previewShowsSymbol());

    analysis.finish = [](CutProject& project) { project.info.hasVideo = true; };
    workspace->loadSource(sourceB, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_TRUE(workspace->document().project && workspace->document().project->info.hasVideo);
    QCoreApplication::processEvents();
    EXPECT_FALSE(previewShowsSymbol());
}

TEST_F(EditorViewTest, TheNotesAndTheAuditionLineFollowPlayback) {
    showWindow();
    open(sourceA);
    const QString loading = QStringLiteral("正在载入预览…");
    const QString muted = QStringLiteral("预览已静音；导出音量不变。");
    ASSERT_TRUE(workspace->playback().previewLoading);
    EXPECT_TRUE(editorTexts().contains(loading));
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    settle();
    EXPECT_FALSE(editorTexts().contains(loading));
    EXPECT_FALSE(editorTexts().contains(muted));
    players.last()->setMuted(true);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().soundMuted; }));
    settle();
    EXPECT_TRUE(editorTexts().contains(muted));

    workspace->audition(workspace->document().project->cuts[1].id, AuditionMode::original);
    // Only the editor's own refreshes (queued to its bindings, its children): the audition's
    // preparation, which reports back to the application object, must not end it meanwhile.
    for (QObject* child : editor().children()) QCoreApplication::sendPostedEvents(child, QEvent::MetaCall);
    ASSERT_TRUE(workspace->auditionStatus());
    EXPECT_TRUE(editorTexts().contains(QString::fromStdString(*workspace->auditionStatus())));
    QAbstractButton* back = buttonWithText(editor(), QStringLiteral("返回全片"));
    ASSERT_TRUE(back && back->isVisible());
    // The notes and the line take their room from the preview area, not from the rows.
    ASSERT_EQ(view().height(), 820);
    EXPECT_EQ(editor().mainRow().height(), 395);
    saveShot(*mainWindow, "editor-audition-line");
    back->click();
    settle();
    EXPECT_FALSE(workspace->auditionStatus());
    EXPECT_FALSE(back->isVisible());
}

TEST_F(EditorViewTest, TheDetailLabelsShowTheLoadAndItsFailureWithARetry) {
    workspace->setWaveformDetailDelay(std::chrono::milliseconds(0));
    showWindow();
    open(sourceA);
    // The source is no media: the detail load of a zoomed window fails.
    workspace->zoomWaveform(true);
    ASSERT_TRUE(workspace->waveform().loading);
    QCoreApplication::processEvents();
    EXPECT_TRUE(visibleTexts(timeline()).contains(QStringLiteral("正在加载局部波形…")));
    ASSERT_TRUE(waitUntil([&] { return workspace->waveform().issue.has_value(); }));
    settle();
    QStringList texts = visibleTexts(timeline());
    EXPECT_TRUE(texts.contains(QString::fromStdString(*workspace->waveform().issue)));
    EXPECT_FALSE(texts.contains(QStringLiteral("正在加载局部波形…")));
    shots("editor-waveform-issue");

    QAbstractButton* retry = buttonWithText(timeline(), QStringLiteral("重试"));
    ASSERT_TRUE(retry && retry->isVisible());
    retry->click();
    EXPECT_TRUE(workspace->waveform().loading);
    // One turn: the reload fails again soon after.
    QCoreApplication::processEvents();
    texts = visibleTexts(timeline());
    EXPECT_TRUE(texts.contains(QStringLiteral("正在加载局部波形…")));
    EXPECT_FALSE(texts.contains(QStringLiteral("重试")));
    // Centred at the waveform's top edge.
    auto* label = buttonWithText(timeline(), QStringLiteral("重试"))->parentWidget();
    ASSERT_TRUE(waitUntil([&] { return label->isVisible(); }));
    const QRect onWaveform = label->geometry();
    EXPECT_EQ(onWaveform.top(), timeline().waveform().geometry().top());
    EXPECT_LE(std::abs(onWaveform.center().x() - timeline().waveform().geometry().center().x()), 1);
}

TEST_F(EditorViewTest, AWaveformClickSeeksWithinTheWindowShown) {
    showWindow();
    open(sourceA);
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    workspace->playbackClock().setPosition(6);
    workspace->zoomWaveform(true);
    settle();
    const WaveformWindow window = workspace->visibleWaveformWindow();
    ASSERT_TRUE(workspace->waveform().window);
    ASSERT_GT(window.start, 0);
    // A real click on the waveform's last column, outside every pause, reaches the window's end.
    auto& waveform = timeline().waveform();
    QTest::mouseClick(&waveform, Qt::LeftButton, {}, QPoint(waveform.width() - 1, waveform.height() / 4));
    ASSERT_TRUE(
        waitUntil([&] { return std::abs(workspace->player().currentTime() - window.end) < 1e-9; }, 5000))
        << workspace->player().currentTime();
    struct Case {
        double fraction;
        double seconds;
    };
    const Case cases[] = {
        {0, window.start},  {1, window.end}, {0.5, (window.start + window.end) / 2},
        {-3, window.start}, {4, window.end},
    };
    for (const Case& c : cases) {
        timeline().seek(c.fraction);
        ASSERT_TRUE(
            waitUntil([&] { return std::abs(workspace->player().currentTime() - c.seconds) < 1e-9; }, 5000))
            << c.fraction << " " << workspace->player().currentTime();
    }
    // A click inside a pause reviews it.
    workspace->fitWaveform();
    timeline().seek(0.15);
    ASSERT_TRUE(workspace->review().reviewID);
    EXPECT_EQ(workspace->reviewCut()->start, 1);
}

TEST_F(EditorViewTest, AddCutShowsOnlyWithAPopoverAndKeepsTheWindowInStep) {
    showWindow();
    open(sourceA);
    QAbstractButton* addCut = buttonWithText(timeline(), QStringLiteral("添加切点"));
    ASSERT_NE(addCut, nullptr);
    // The window opens the manual-range popover under the link.
    ASSERT_TRUE(addCut->isVisible());
    addCut->click();
    QPointer<ManualCutPopover> manual = addCut->findChild<ManualCutPopover*>();
    ASSERT_TRUE(manual && manual->isVisible());
    EXPECT_TRUE(view().manualPresented());
    manual->close();
    EXPECT_FALSE(view().manualPresented());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(manual);
    // Without a popover to open the link is hidden.
    view().setManualPopoverFactory({});
    EXPECT_FALSE(addCut->isVisible());

    QPointer<QWidget> made;
    QWidget* anchor = nullptr;
    view().setManualPopoverFactory([&](QWidget* at) {
        anchor = at;
        made = new QWidget(nullptr, Qt::Popup);
        made->resize(200, 100);
        return made.data();
    });
    QCoreApplication::processEvents();
    EXPECT_TRUE(addCut->isVisible());
    saveShot(*mainWindow, "editor-add-cut");

    addCut->click();
    EXPECT_EQ(anchor, addCut);
    ASSERT_TRUE(made && made->isVisible());
    EXPECT_TRUE(view().manualPresented());
    // The single-key shortcuts are off while it is open.
    EXPECT_FALSE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
    addCut->click();
    EXPECT_FALSE(view().manualPresented());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(made);

    // Closed by itself (a click outside, Escape): the window follows too.
    addCut->click();
    ASSERT_TRUE(made && view().manualPresented());
    made->close();
    EXPECT_FALSE(view().manualPresented());
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
    addCut->click();
    ASSERT_TRUE(made && view().manualPresented());
    delete made.data();
    EXPECT_FALSE(view().manualPresented());
}

}  // namespace
}  // namespace talvian::test
