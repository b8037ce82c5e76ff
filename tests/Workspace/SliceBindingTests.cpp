// The binding of a view to the controller's slices: one refresh per turn of the event loop,
// whatever changed in that turn among the bound slices, none for the others, and none for a
// view (or under a controller) that is gone by the time the turn comes.

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Workspace/SliceBinding.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

namespace {

const std::map<std::string, Slice::Signal> kSlices = {
    {"document", Slice::document}, {"job", Slice::job},           {"detection", Slice::detection},
    {"review", Slice::review},     {"waveform", Slice::waveform}, {"playback", Slice::playback},
    {"exports", Slice::exports},
};

// A project open in the real controller, a plain object as the view, and the slices the
// controller published since the last turn.
class SliceBindingTest : public WorkspaceTest {
  protected:
    std::unique_ptr<QObject> view = std::make_unique<QObject>();
    int refreshes = 0;
    std::set<std::string> published;

    void SetUp() override {
        WorkspaceTest::SetUp();
        // The scripted source is no real recording: no detail load comes back in between.
        workspace->setWaveformDetailDelay(std::chrono::hours(1));
        open(sourceA);
        settle();
        for (const auto& [name, signal] : kSlices)
            QObject::connect(workspace.get(), signal, [this, name = name] { published.insert(name); });
    }
    void bind(QObject& target, const std::vector<Slice::Signal>& slices, int& counter) {
        bindSlices(target, *workspace, slices, [&counter] { ++counter; });
    }
    // Another setting of the detection: a change of the settings and of their history.
    void changeSettings() {
        CutOptions options = workspace->detection().cutOptions;
        options.thresholdDB -= 1;
        workspace->setCutOptions(options);
    }
};

TEST_F(SliceBindingTest, OneRefreshPerTurnForTheBoundSlicesOnly) {
    struct Case {
        const char* name;
        std::vector<std::string> bound;  // "any": every slice
        std::function<void()> operations;
        std::size_t boundChanges;  // how many of the bound slices the operations change
    };
    // In this order: the settings changed by the later cases refuse the earlier cases' edits.
    const std::vector<Case> cases = {
        {"several operations in one turn",
         {"document", "job"},
         [this] {
             workspace->toggleCut(ids()[0]);
             workspace->toggleCut(ids()[1]);
             workspace->setNotice("提示一");
             workspace->setNotice("提示二");
         },
         2},
        {"slices that did not change",
         {"exports", "waveform", "detection"},
         [this] {
             workspace->toggleCut(ids()[2]);
             workspace->setNotice("另一个提示");
         },
         0},
        {"several bound slices in one operation", {"document", "detection"}, [this] { changeSettings(); }, 2},
        {"every slice",
         {"any"},
         [this] {
             changeSettings();
             workspace->setNotice("提示");
         },
         3},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const bool any = item.bound == std::vector<std::string>{"any"};
        std::vector<Slice::Signal> slices;
        for (const auto& name : item.bound) slices.push_back(any ? Slice::any : kSlices.at(name));
        QObject target;
        int counted = 0;
        bind(target, slices, counted);
        published.clear();
        item.operations();
        std::size_t changed = 0;
        for (const auto& name : published)
            changed += any || std::find(item.bound.begin(), item.bound.end(), name) != item.bound.end();
        ASSERT_EQ(changed, item.boundChanges) << "the operations changed other slices than the case names";
        EXPECT_EQ(counted, 0) << "refreshed before the turn";
        QCoreApplication::processEvents();
        EXPECT_EQ(counted, item.boundChanges > 0 ? 1 : 0);
        settle();
        EXPECT_EQ(counted, item.boundChanges > 0 ? 1 : 0);
    }
}

TEST_F(SliceBindingTest, TheGuardsBindLikeASlice) {
    bind(*view, {Slice::guards}, refreshes);
    // Two operations that change guards in one turn (settings that differ from the analysed
    // ones, then back again): one refresh.
    changeSettings();
    EXPECT_TRUE(workspace->guards().needsAnalysis);
    workspace->undoInContext();
    EXPECT_FALSE(workspace->guards().needsAnalysis);
    EXPECT_EQ(refreshes, 0) << "refreshed before the turn";
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1);
    // Operations that change slices but leave every guard as it was: none.
    workspace->setNotice("提示");
    workspace->setPreviewCuts(true);
    settle();
    EXPECT_EQ(refreshes, 1);
}

TEST_F(SliceBindingTest, ARefreshThatEditsIsFollowedByOneMoreInTheNextTurn) {
    bool edited = false;
    bindSlices(*view, *workspace, {Slice::document}, [&] {
        ++refreshes;
        if (!std::exchange(edited, true)) workspace->toggleCut(ids()[0]);
    });
    workspace->toggleCut(ids()[1]);
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1);
    settle();
    EXPECT_EQ(refreshes, 2);
}

TEST_F(SliceBindingTest, AViewOrControllerGoneBeforeTheTurnIsNotRefreshed) {
    // The view goes with its refresh pending; another view of the same change still refreshes.
    QObject survivor;
    int survivorRefreshes = 0;
    bind(*view, {Slice::document, Slice::job}, refreshes);
    bind(survivor, {Slice::document}, survivorRefreshes);
    workspace->toggleCut(ids()[0]);
    workspace->setNotice("提示");
    view.reset();
    settle();
    EXPECT_EQ(refreshes, 0);
    EXPECT_EQ(survivorRefreshes, 1);

    // The controller goes with a refresh pending.
    workspace->toggleCut(ids()[1]);
    workspace->setTeardownBound(std::chrono::milliseconds(200));
    workspace.reset();
    settle();
    EXPECT_EQ(survivorRefreshes, 1);
}

}  // namespace
