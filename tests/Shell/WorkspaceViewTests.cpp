#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

#include <gtest/gtest.h>

#include "Shell/DropTarget.h"
#include "Shell/EditorView.h"
#include "Shell/HeaderBar.h"
#include "Shell/StartScreen.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

class WorkspaceViewTest : public ShellTest {
  protected:
    // Panels answer with a plain label until their own views exist.
    void installPanels() {
        view().setPanelFactory([](ModalPanel modal, WorkspaceView&) -> QWidget* {
            return new QLabel(QString::number(static_cast<int>(modal)));
        });
    }
    bool startScreenShown() {
        return view().findChild<StartScreen*>()->isVisible() && !view().findChild<EditorView*>()->isVisible();
    }
};

TEST_F(WorkspaceViewTest, TheStartScreenGivesWayToTheEditorAsSoonAsASourceIsSet) {
    analysis.hold = true;
    showWindow();
    EXPECT_TRUE(startScreenShown());
    saveShot(*mainWindow, "start-screen");
    workspace->loadSource(sourceA, true);
    // Before the analysis has finished.
    ASSERT_TRUE(workspace->job().busy);
    settle();
    EXPECT_FALSE(startScreenShown());
    EXPECT_TRUE(view().findChild<EditorView*>()->isVisible());
    saveShot(*mainWindow, "editor-busy");
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    EXPECT_FALSE(startScreenShown());
}

TEST_F(WorkspaceViewTest, APanelDimsAndBlocksTheWindow) {
    open(sourceA);
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    showWindow();
    installPanels();
    const auto review = workspace->review().reviewID;

    view().setModal(ModalPanel::exportPanel);
    ASSERT_TRUE(view().obstructed());
    ASSERT_NE(view().panel(), nullptr);
    EXPECT_TRUE(workspace->job().studioOverlayPresented);
    EXPECT_FALSE(view().findChild<HeaderBar*>()->isEnabled());
    saveShot(*mainWindow, "panel-open");

    // Single keys, the space bar and drops do nothing to the edit.
    const auto cuts = workspace->document().project->cuts;
    for (int key : {Qt::Key_Down, Qt::Key_Backspace, Qt::Key_Delete}) {
        const QKeyEvent event = keyEvent(QEvent::KeyPress, key);
        EXPECT_FALSE(view().handleKey(event)) << key;
    }
    view().togglePlayback();
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_FALSE(dropFiles(view(), {QUrl::fromLocalFile(QString::fromStdString(sourceB.string()))}));
    QApplication::processEvents();
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project->cuts, cuts);
    EXPECT_EQ(workspace->review().reviewID, review);

    view().setModal(std::nullopt);
    EXPECT_FALSE(workspace->job().studioOverlayPresented);
    EXPECT_TRUE(view().findChild<HeaderBar*>()->isEnabled());
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
}

TEST_F(WorkspaceViewTest, TheNoticeShowsInAnAlertAndIsClearedHoweverItCloses) {
    showWindow();
    workspace->setNotice(std::string("一次导入一段口播素材。"));
    ASSERT_TRUE(waitUntil([&] { return view().noticeShown(); }, 5000));
    QMessageBox* alert = view().noticeAlert();
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("提示"));
    EXPECT_EQ(alert->text(), QStringLiteral("一次导入一段口播素材。"));
    ASSERT_EQ(alert->buttons().size(), 1);
    auto* gotIt = qobject_cast<QPushButton*>(alert->buttons().front());
    EXPECT_EQ(gotIt->text(), QStringLiteral("知道了"));
    EXPECT_FALSE(gotIt->autoDefault());
    saveShot(*alert, "notice");

    // While it is open, drops and keys do nothing.
    EXPECT_FALSE(dropFiles(view(), {QUrl::fromLocalFile(QString::fromStdString(sourceA.string()))}));
    EXPECT_FALSE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));

    gotIt->click();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().notice; }, 5000));
    EXPECT_FALSE(view().noticeShown());

    workspace->setNotice(std::string("第二条"));
    ASSERT_TRUE(waitUntil([&] { return view().noticeShown(); }, 5000));
    EXPECT_EQ(view().noticeAlert()->text(), QStringLiteral("第二条"));
    view().noticeAlert()->reject();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().notice; }, 5000));
}

TEST_F(WorkspaceViewTest, DemoLoadsTheSampleOnceEvenAfterHideAndShow) {
    arguments = {QStringLiteral("talvian"), QStringLiteral("--demo")};
    showWindow();
    ASSERT_TRUE(waitUntil([&] { return workspace->document().source.has_value(); }));
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->document().source->filename(), "sample-talk.mp4");
    mainWindow->hide();
    mainWindow->show();
    QApplication::processEvents();
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(analysis.calls().size(), 1u);
}

TEST_F(WorkspaceViewTest, OnlyTheExactDemoArgumentCounts) {
    arguments = {QStringLiteral("talvian"), QStringLiteral("--demo=1"), QStringLiteral("demo")};
    showWindow();
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(workspace->document().source);
    EXPECT_TRUE(analysis.calls().empty());
}

struct KeyCase {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
    bool consumed;
};

TEST_F(WorkspaceViewTest, HandleKeyTable) {
    open(sourceA);
    showWindow();
    const KeyCase cases[] = {
        {Qt::Key_Backspace, {}, "\b", true},
        {Qt::Key_Delete, {}, "\x7f", true},
        {Qt::Key_Down, Qt::KeypadModifier, "", true},
        {Qt::Key_Up, Qt::KeypadModifier, "", true},
        {Qt::Key_O, {}, "o", true},
        {Qt::Key_O, Qt::ShiftModifier, "O", true},
        {Qt::Key_R, {}, "r", true},
        {Qt::Key_U, {}, "u", true},
        {Qt::Key_Plus, Qt::ShiftModifier, "+", true},
        {Qt::Key_Equal, {}, "=", true},
        {Qt::Key_Minus, {}, "-", true},
        {Qt::Key_F, {}, "f", true},
        {Qt::Key_F, Qt::ShiftModifier, "F", true},
        {Qt::Key_F, Qt::AltModifier, "f", false},
        {Qt::Key_U, Qt::MetaModifier, "u", false},
        {Qt::Key_Backspace, Qt::ControlModifier, "", false},
        {Qt::Key_X, {}, "x", false},
        {Qt::Key_Shift, Qt::ShiftModifier, "", false},
    };
    for (const KeyCase& c : cases) {
        const QKeyEvent event = keyEvent(QEvent::KeyPress, c.key, c.modifiers, QString::fromLatin1(c.text));
        EXPECT_EQ(view().handleKey(event), c.consumed) << c.key << " " << c.text;
    }
}

TEST_F(WorkspaceViewTest, SingleKeysReachTheirOperations) {
    open(sourceA);
    showWindow();
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    const auto order = workspace->reviewCuts();
    ASSERT_GE(order.size(), 2u);
    ASSERT_FALSE(workspace->review().reviewID);
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
    EXPECT_EQ(workspace->review().reviewID, order[0].id);
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
    EXPECT_EQ(workspace->review().reviewID, order[1].id);
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Up)));
    EXPECT_EQ(workspace->review().reviewID, order[0].id);
    const bool removed = workspace->reviewCut()->remove;
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Backspace)));
    EXPECT_NE(workspace->reviewCut()->remove, removed);
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Equal, {}, QStringLiteral("="))));
    EXPECT_TRUE(workspace->waveform().window.has_value());
    EXPECT_TRUE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_F, {}, QStringLiteral("f"))));
    EXPECT_FALSE(workspace->waveform().window.has_value());

    // During a job and while the manual popover is open, keys travel on.
    view().setManualPresented(true);
    EXPECT_FALSE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
    view().setManualPresented(false);
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    EXPECT_FALSE(view().handleKey(keyEvent(QEvent::KeyPress, Qt::Key_Down)));
}

struct DropCase {
    bool obstructed;
    bool busy;
    qsizetype count;
    DropTarget::Outcome outcome;
};

TEST(DropTarget, DecisionTable) {
    using Outcome = DropTarget::Outcome;
    const DropCase cases[] = {
        {true, false, 1, Outcome::refused},  {false, true, 1, Outcome::refused},
        {true, true, 2, Outcome::refused},   {false, false, 1, Outcome::accepted},
        {false, false, 2, Outcome::tooMany}, {false, false, 5, Outcome::tooMany},
    };
    for (const DropCase& c : cases)
        EXPECT_EQ(DropTarget::decide(c.obstructed, c.busy, c.count), c.outcome)
            << c.obstructed << c.busy << c.count;
}

TEST_F(WorkspaceViewTest, TheHighlightShowsWhileAFileHoversEvenWhenTheDropWillBeRefused) {
    showWindow();
    installPanels();
    view().setModal(ModalPanel::exportPanel);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(sourceA.string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view(), &enter);
    EXPECT_TRUE(view().dragOver());
    QDragLeaveEvent leave;
    QApplication::sendEvent(&view(), &leave);
    EXPECT_FALSE(view().dragOver());
}

TEST_F(WorkspaceViewTest, DropsLoadOneFileAndRefuseTwo) {
    showWindow();
    const QUrl a = QUrl::fromLocalFile(QString::fromStdString(sourceA.string()));
    const QUrl b = QUrl::fromLocalFile(QString::fromStdString(sourceB.string()));
    EXPECT_FALSE(dropFiles(view(), {a, b}));
    EXPECT_EQ(workspace->job().notice, std::optional<std::string>("一次导入一段口播素材。"));
    EXPECT_FALSE(workspace->document().source);
    workspace->setNotice(std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return !view().noticeShown(); }, 5000));

    // Dropped on the header, it still reaches the window.
    EXPECT_TRUE(dropFiles(*view().findChild<HeaderBar*>(), {a}) || dropFiles(view(), {a}));
    ASSERT_TRUE(waitUntil([&] { return workspace->document().source == sourceA; }));
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));

    // During a job: refused silently.
    analysis.hold = true;
    workspace->analyze();
    EXPECT_FALSE(dropFiles(view(), {b}));
    QApplication::processEvents();
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_FALSE(workspace->job().notice);
}

TEST_F(WorkspaceViewTest, ARefusedDropShowsTheControllersReasonAndKeepsTheEdit) {
    // Another instance holds the backup: the edit on screen cannot be backed up, so replacing
    // it would lose it and the controller refuses.
    workspace.reset();
    Workspace holder(players, backupURL);
    workspace = makeWorkspace();
    open(sourceA);
    showWindow();
    workspace->toggleCut(workspace->document().project->cuts.front().id);
    const auto edited = workspace->document().project;
    ASSERT_TRUE(dropFiles(view(), {QUrl::fromLocalFile(QString::fromStdString(sourceB.string()))}));
    ASSERT_TRUE(waitUntil([&] { return view().noticeShown(); }, 5000));
    EXPECT_FALSE(view().noticeAlert()->text().isEmpty());
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project, edited);
}

}  // namespace
}  // namespace talvian::test
