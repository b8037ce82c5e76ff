#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "Shell/PlaybackShortcuts.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

// One event as the window hands it to the responder.
struct Step {
    QEvent::Type type;
    int key;
    Qt::KeyboardModifiers modifiers;
    bool autoRepeat;
    bool consumed;  // expected
};

struct Routing {
    const char* name;
    bool focusInField;
    bool keyHandlerConsumes;
    std::vector<Step> steps;
    int toggles;  // expected
};

constexpr auto press = QEvent::KeyPress;
constexpr auto release = QEvent::KeyRelease;

class RoutingTable : public ::testing::TestWithParam<Routing> {};

TEST_P(RoutingTable, ConsumesAndTogglesAsAResponderAfterTheWindow) {
    const Routing& routing = GetParam();
    QLineEdit field;
    PlaybackSpaceResponder responder;
    int toggles = 0;
    responder.onToggle = [&] { ++toggles; };
    responder.onKey = [&](const QKeyEvent&) { return routing.keyHandlerConsumes; };
    for (std::size_t i = 0; i < routing.steps.size(); ++i) {
        const Step& step = routing.steps[i];
        const QKeyEvent event = keyEvent(step.type, step.key, step.modifiers, {}, step.autoRepeat);
        const bool consumed = step.type == press
                                  ? responder.keyDown(event, routing.focusInField ? &field : nullptr)
                                  : responder.keyUp(event);
        EXPECT_EQ(consumed, step.consumed) << routing.name << ", step " << i;
    }
    EXPECT_EQ(toggles, routing.toggles) << routing.name;
    EXPECT_FALSE(responder.handledSpaceDown()) << routing.name;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RoutingTable,
    ::testing::Values(
        Routing{"space press and release",
                false,
                false,
                {{press, Qt::Key_Space, {}, false, true}, {release, Qt::Key_Space, {}, false, true}},
                1},
        // X11 auto-repeat: every repeat is a release/press pair marked as repeats.
        Routing{"held space on X11",
                false,
                false,
                {{press, Qt::Key_Space, {}, false, true},
                 {release, Qt::Key_Space, {}, true, true},
                 {press, Qt::Key_Space, {}, true, true},
                 {release, Qt::Key_Space, {}, true, true},
                 {press, Qt::Key_Space, {}, true, true},
                 {release, Qt::Key_Space, {}, false, true}},
                1},
        Routing{"space typed into a field",
                true,
                false,
                {{press, Qt::Key_Space, {}, false, false}, {release, Qt::Key_Space, {}, false, false}},
                0},
        Routing{"letters and arrows stay in a field even when the window would take them",
                true,
                true,
                {{press, Qt::Key_O, {}, false, false}, {press, Qt::Key_Down, {}, false, false}},
                0},
        Routing{"shift+space travels on",
                false,
                false,
                {{press, Qt::Key_Space, Qt::ShiftModifier, false, false},
                 {release, Qt::Key_Space, Qt::ShiftModifier, false, false}},
                0},
        Routing{"ctrl+space and alt+space travel on",
                false,
                false,
                {{press, Qt::Key_Space, Qt::ControlModifier, false, false},
                 {press, Qt::Key_Space, Qt::AltModifier, false, false},
                 {press, Qt::Key_Space, Qt::MetaModifier, false, false}},
                0},
        Routing{"a release without its press travels on",
                false,
                false,
                {{release, Qt::Key_Space, {}, false, false}},
                0},
        Routing{"the window's single keys come first",
                false,
                true,
                {{press, Qt::Key_Space, {}, false, true}, {release, Qt::Key_Space, {}, false, false}},
                0},
        Routing{"other keys travel on", false, false, {{press, Qt::Key_A, {}, false, false}}, 0}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(PlaybackShortcuts, TextInputsKeepTheirKeysButButtonsDoNot) {
    QLineEdit line;
    QPushButton button;
    EXPECT_TRUE(PlaybackSpaceResponder::isTextInput(&line));
    EXPECT_FALSE(PlaybackSpaceResponder::isTextInput(&button));
    EXPECT_FALSE(PlaybackSpaceResponder::isTextInput(nullptr));
}

class WindowKeys : public ShellTest {};

// An activated window gives its keys to the window itself, not to its first button: the space
// bar plays instead of pressing the export button.
TEST_F(WindowKeys, TheSpaceBarPlaysRightAfterTheWindowOpens) {
    open(sourceA);
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    showWindow();
    mainWindow->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() != nullptr; }, 5000));
    QWidget* focus = QApplication::focusWidget();
    EXPECT_EQ(focus, &view());
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(focus, &space);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(focus, &release);
    EXPECT_TRUE(workspace->playback().isPlaying);
    EXPECT_FALSE(workspace->job().studioOverlayPresented);
}

// Through the real window: a space typed into a field is text, the same space elsewhere plays.
TEST_F(WindowKeys, ASpaceInAFieldIsTextAndElsewhereItPlays) {
    open(sourceA);
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    showWindow();
    auto* field = new QLineEdit(&view());
    field->show();
    mainWindow->activateWindow();
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == field; }, 5000));

    QKeyEvent typed(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(field, &typed);
    EXPECT_EQ(field->text(), QStringLiteral(" "));
    EXPECT_FALSE(players.last()->playCount());

    field->clearFocus();
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(mainWindow.get(), &space);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(mainWindow.get(), &up);
    EXPECT_TRUE(space.isAccepted());
    EXPECT_TRUE(workspace->playback().isPlaying);
}

}  // namespace
}  // namespace talvian::test
