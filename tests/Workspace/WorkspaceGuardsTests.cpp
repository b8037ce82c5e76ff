// The guards: one value published at the end of each operation, after the slices, with its
// own signal, and in place before the first slot of that operation runs.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "PlaybackFixture.h"

namespace talvian::test {
namespace {

// Every signal of one controller in the order it came, with the guards its slot saw.
class SignalLog {
  public:
    explicit SignalLog(Workspace& workspace) : workspace_(workspace) {
        const std::pair<const char*, void (Workspace::*)()> watched[] = {
            {"document", &Workspace::documentChanged},
            {"job", &Workspace::jobChanged},
            {"detection", &Workspace::detectionChanged},
            {"review", &Workspace::reviewChanged},
            {"waveform", &Workspace::waveformChanged},
            {"playback", &Workspace::playbackChanged},
            {"export", &Workspace::exportChanged},
            {"guards", &Workspace::guardsChanged},
            {"changed", &Workspace::changed}};
        for (const auto& [name, signal] : watched)
            QObject::connect(&workspace_, signal, [this, name = std::string(name)] {
                entries_.push_back({name, workspace_.guards()});
            });
    }

    // Checks what was published since the last call, operation by operation (each ends with
    // changed()), against the guards the previous operation left; returns how often the guards
    // were signalled.
    int check(const std::string& step) {
        int signalled = 0;
        std::size_t begin = 0;
        for (std::size_t end = 0; end < entries_.size(); ++end) {
            if (entries_[end].name != "changed") continue;
            const WorkspaceGuards& published = entries_[end].guards;
            bool guards = false;
            bool slices = false;
            for (std::size_t i = begin; i < end; ++i) {
                const Entry& entry = entries_[i];
                EXPECT_EQ(entry.guards, published) << step << ": " << entry.name << " saw other guards";
                EXPECT_FALSE(guards) << step << ": " << entry.name << " after guardsChanged";
                if (entry.name == "guards") {
                    guards = true;
                } else {
                    slices = true;
                }
            }
            EXPECT_EQ(guards, !(published == last_)) << step << ": guardsChanged follows the value";
            EXPECT_TRUE(slices) << step << ": the guards changed without a slice";
            signalled += guards;
            last_ = published;
            begin = end + 1;
        }
        EXPECT_EQ(begin, entries_.size()) << step << ": signals after the last changed()";
        EXPECT_EQ(workspace_.guards(), last_) << step;
        entries_.clear();
        return signalled;
    }

  private:
    struct Entry {
        std::string name;
        WorkspaceGuards guards;
    };
    Workspace& workspace_;
    std::vector<Entry> entries_;
    WorkspaceGuards last_ = workspace_.guards();
};

TEST_F(PlaybackTest, GuardsArePublishedOnceWhenTheyChangeAndBeforeAnySlotRuns) {
    struct Step {
        std::string name;
        std::function<void()> act;
        std::function<void(const WorkspaceGuards&)> expect;
    };
    SignalLog log(*workspace);
    CutOptions stricter;
    stricter.thresholdDB = -40;
    const Step steps[] = {
        {"open and analyse", [&] { open(sourceA); },
         [](const WorkspaceGuards& g) {
             EXPECT_FALSE(g.cutBusy);
             EXPECT_FALSE(g.needsAnalysis);
             EXPECT_TRUE(g.canSelectBatch);
             EXPECT_TRUE(g.canNavigateWaveform);
             // The preview has not loaded yet.
             EXPECT_FALSE(g.canPlayPreview);
             EXPECT_FALSE(g.canReview);
             EXPECT_FALSE(g.canCaptureManualPosition);
         }},
        {"preview ready",
         [&] {
             preview().finishLoading(analysis.duration);
             ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
             settle();
         },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.canPlayPreview);
             EXPECT_TRUE(g.canReview);
             EXPECT_TRUE(g.canReviewNext);
             EXPECT_TRUE(g.canCaptureManualPosition);
             EXPECT_TRUE(g.canJumpToSourceTime);
             EXPECT_TRUE(g.canAuditionFull);
             EXPECT_TRUE(g.canAddManualCut);
             EXPECT_FALSE(g.canUndoCut);
         }},
        {"toggle", [&] { workspace->toggleCut(cut(0).id); },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.canUndoCut);
             EXPECT_FALSE(g.canRedoCut);
         }},
        {"undo", [&] { workspace->undoCut(); },
         [](const WorkspaceGuards& g) {
             EXPECT_FALSE(g.canUndoCut);
             EXPECT_TRUE(g.canRedoCut);
         }},
        {"review the last pause", [&] { workspace->selectCutRow(cut(2).id, false, false); },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.canReview);
             EXPECT_FALSE(g.canReviewNext);
         }},
        {"batch selection",
         [&] {
             workspace->beginBatchSelection();
             workspace->toggleBatchCut(cut(0).id, false);
         },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.canApplyBatch);
             EXPECT_TRUE(g.canKeepBatch);
             EXPECT_FALSE(g.canDeleteBatch);
         }},
        {"batch ends", [&] { workspace->resetBatchSelection(); },
         [](const WorkspaceGuards& g) { EXPECT_FALSE(g.canApplyBatch); }},
        {"audition prepares", [&] { workspace->audition(cut(1).id, AuditionMode::original); },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.auditionLoading);
             EXPECT_FALSE(g.canPlayPreview);
             EXPECT_FALSE(g.canRepeatAudition);
             EXPECT_FALSE(g.canCaptureManualPosition);
             EXPECT_FALSE(g.canAuditionFull);
         }},
        {"audition plays", [&] { playAudition(); },
         [](const WorkspaceGuards& g) {
             EXPECT_FALSE(g.auditionLoading);
             EXPECT_TRUE(g.canPlayPreview);
             EXPECT_TRUE(g.canRepeatAudition);
         }},
        {"audition stops", [&] { workspace->stopAudition(true); },
         [](const WorkspaceGuards& g) { EXPECT_FALSE(g.canRepeatAudition); }},
        {"settings change", [&] { workspace->setCutOptions(stricter); },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.needsAnalysis);
             EXPECT_TRUE(g.canUndoOptions);
             EXPECT_FALSE(g.canReview);
             EXPECT_FALSE(g.canRedoCut);
             EXPECT_FALSE(g.canNavigateWaveform);
         }},
        {"settings undone", [&] { workspace->undoInContext(); },
         [](const WorkspaceGuards& g) {
             EXPECT_FALSE(g.needsAnalysis);
             EXPECT_FALSE(g.canUndoOptions);
             EXPECT_TRUE(g.canRedoOptions);
             EXPECT_TRUE(g.canRedoCut);
         }},
        {"a job runs",
         [&] {
             analysis.hold = true;
             workspace->analyze();
         },
         [](const WorkspaceGuards& g) {
             EXPECT_TRUE(g.cutBusy);
             EXPECT_FALSE(g.canRedoOptions);
             EXPECT_FALSE(g.canPlayPreview);
             EXPECT_FALSE(g.canReview);
             EXPECT_FALSE(g.canRelocateSource);
         }},
        {"the job ends",
         [&] {
             analysis.hold = false;
             analysis.release();
             ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
             settle();
         },
         [](const WorkspaceGuards& g) {
             EXPECT_FALSE(g.cutBusy);
             EXPECT_TRUE(g.canPlayPreview);
             // A new analysis starts a new history.
             EXPECT_FALSE(g.canRedoCut);
         }},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_GE(log.check(step.name), 1) << step.name;
        step.expect(workspace->guards());
    }

    // An operation that changes a slice but no guard publishes no guards, nor does one that
    // changes nothing.
    workspace->setPreviewCuts(true);
    EXPECT_EQ(log.check("skip removed ranges"), 0);
    EXPECT_TRUE(workspace->playback().previewCuts);
    workspace->setPreviewCuts(true);
    EXPECT_EQ(log.check("skip removed ranges again"), 0);
}

}  // namespace
}  // namespace talvian::test
