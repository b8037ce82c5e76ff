// Every control a screen reader meets, read through Qt's accessibility interfaces exactly as an
// assistive technology walks them from the application down: on the start screen (with and
// without an edit to resume), in the editor, in each panel and in each popover. Each control
// has a name saying what it does, buttons are buttons, checkable controls say whether they are
// checked, and the popovers are windows of the application.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QLineEdit>

#include <algorithm>
#include <functional>
#include <ostream>

#include "HandoffFixtures.h"
#include "Kit/StudioPopover.h"
#include "MediaTestSupport.h"
#include "Shell/EditorView.h"
#include "Shell/TimelineArea.h"
#include "Shell/WorkspaceView.h"
#include "ShellFixture.h"
#include "Views/PauseListView.h"

namespace talvian::test {
namespace {

using Role = QAccessible::Role;

// What a screen reader hears of a control: its name, its role, and for a checkable control
// whether it is checked.
struct Control {
    std::string name;
    Role role;
    std::optional<bool> checked;
    bool operator==(const Control&) const = default;
};

void PrintTo(const Control& control, std::ostream* out) {
    *out << '{' << control.name << ", role " << static_cast<int>(control.role);
    if (control.checked) *out << (*control.checked ? ", checked" : ", unchecked");
    *out << '}';
}

constexpr Role kButton = QAccessible::Button;
constexpr Role kCheckBox = QAccessible::CheckBox;
constexpr Role kRadio = QAccessible::RadioButton;
constexpr Role kMenu = QAccessible::ButtonMenu;
constexpr Role kField = QAccessible::EditableText;
constexpr Role kSlider = QAccessible::Slider;
constexpr Role kItem = QAccessible::ListItem;

bool interactive(Role role) {
    switch (role) {
        case QAccessible::Button:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::ButtonMenu:
        case QAccessible::ComboBox:
        case QAccessible::EditableText:
        case QAccessible::Slider:
        case QAccessible::SpinBox:
        case QAccessible::ListItem:
        case QAccessible::Link:
            return true;
        default:
            return false;
    }
}

// A control is what has a control's role, is a button or a field, or takes the keyboard focus
// (other than `except`, the window's own key handler, and texts that can be selected).
bool isControl(QAccessibleInterface& accessible, const QObject* except) {
    QObject* object = accessible.object();
    if (object != nullptr && object == except) return false;
    if (accessible.role() == QAccessible::StaticText) return false;
    return interactive(accessible.role()) || qobject_cast<QAbstractButton*>(object) != nullptr ||
           qobject_cast<QLineEdit*>(object) != nullptr || accessible.state().focusable;
}

// The controls under `root` that are on screen, in the order a screen reader walks them.
void collect(QAccessibleInterface* root, const QObject* except, std::vector<QAccessibleInterface*>& found) {
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (child == nullptr || !child->isValid() || child->state().invisible) continue;
        EXPECT_EQ(child->parent(), root) << child->text(QAccessible::Name).toStdString();
        EXPECT_EQ(root->indexOfChild(child), i) << child->text(QAccessible::Name).toStdString();
        if (isControl(*child, except)) found.push_back(child);
        collect(child, except, found);
    }
}

Control heard(QAccessibleInterface& accessible) {
    const QAccessible::State state = accessible.state();
    // Qt reports push buttons as Button.
    return {accessible.text(QAccessible::Name).toStdString(), accessible.role(),
            state.checkable ? std::optional<bool>(state.checked) : std::nullopt};
}

QAccessibleInterface* application() {
    return QAccessible::queryAccessibleInterface(qApp);
}

class AccessibilityTest : public ShellTest {
  protected:
    // The controls under `root`, each checked against the rules every control follows.
    std::vector<Control> controls(QAccessibleInterface* root) {
        std::vector<QAccessibleInterface*> found;
        collect(root, &view(), found);
        std::vector<Control> result;
        for (QAccessibleInterface* accessible : found) {
            const Control control = heard(*accessible);
            SCOPED_TRACE(testing::PrintToString(control));
            EXPECT_FALSE(control.name.empty()) << "a control without a name";
            EXPECT_TRUE(interactive(control.role)) << "a control without a control's role";
            const bool button = control.role == kButton || control.role == kCheckBox ||
                                control.role == kRadio || control.role == kMenu;
            if (qobject_cast<QAbstractButton*>(accessible->object())) {
                EXPECT_TRUE(button);
            }
            if (control.role == kCheckBox || control.role == kRadio) {
                EXPECT_TRUE(control.checked.has_value()) << "not checkable";
            }
            // What a button does, a screen reader can do.
            const QAccessible::State state = accessible->state();
            if (button && !state.disabled) {
                QAccessibleActionInterface* actions = accessible->actionInterface();
                EXPECT_NE(actions, nullptr);
                const QStringList names = actions ? actions->actionNames() : QStringList();
                EXPECT_TRUE(names.contains(QAccessibleActionInterface::pressAction()) ||
                            names.contains(QAccessibleActionInterface::toggleAction()))
                    << names.join(',').toStdString();
            }
            result.push_back(control);
        }
        return result;
    }
    std::vector<Control> windowControls() {
        return controls(QAccessible::queryAccessibleInterface(mainWindow.get()));
    }

    // The application's windows that are popovers, by name.
    std::vector<std::string> popoverWindows() {
        std::vector<std::string> names;
        QAccessibleInterface* app = application();
        for (int i = 0; i < app->childCount(); ++i) {
            QAccessibleInterface* window = app->child(i);
            if (window == nullptr || !qobject_cast<StudioPopover*>(window->object())) continue;
            EXPECT_EQ(window->role(), QAccessible::Dialog);
            EXPECT_EQ(window->parent(), app);
            EXPECT_EQ(app->indexOfChild(window), i);
            names.push_back(window->text(QAccessible::Name).toStdString());
        }
        return names;
    }
    QAccessibleInterface* popoverWindow(const std::string& name) {
        QAccessibleInterface* app = application();
        for (int i = 0; i < app->childCount(); ++i) {
            QAccessibleInterface* window = app->child(i);
            if (window && window->text(QAccessible::Name).toStdString() == name) return window;
        }
        return nullptr;
    }

    // The control named `name` under `root`, as a screen reader finds it.
    QAccessibleInterface* find(QAccessibleInterface* root, const std::string& name) {
        std::vector<QAccessibleInterface*> found;
        collect(root, &view(), found);
        for (QAccessibleInterface* accessible : found)
            if (accessible->text(QAccessible::Name).toStdString() == name) return accessible;
        return nullptr;
    }
    // Runs the action of the control named `name` in the window, as a screen reader would.
    void act(const std::string& name, const QString& action) {
        QAccessibleInterface* control = find(QAccessible::queryAccessibleInterface(mainWindow.get()), name);
        ASSERT_NE(control, nullptr) << name;
        ASSERT_NE(control->actionInterface(), nullptr) << name;
        ASSERT_TRUE(control->actionInterface()->actionNames().contains(action))
            << name << " " << control->actionInterface()->actionNames().join(',').toStdString()
            << " disabled " << control->state().disabled;
        control->actionInterface()->doAction(action);
    }
    static void settle() {
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    }
    // The editor over a loaded recording whose preview is ready, the first pause under review.
    void openEditor() {
        showWindow();
        open(sourceA);
        players.last()->finishLoading(10);
        ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }, 5000));
        workspace->selectCutRow(workspace->document().project->cuts.at(0).id, false, false);
        settle();
    }
};

const std::vector<Control> kHeader = {
    {"撤销", kButton, {}},
    {"重做", kButton, {}},
    {"导出", kButton, {}},
};

std::vector<Control> joined(std::vector<Control> first, const std::vector<Control>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST_F(AccessibilityTest, StartScreenWithAndWithoutAnEditToResume) {
    showWindow();
    const std::vector<Control> invitation = {
        {"选择文件…", kButton, {}},
        {"试用示例", kButton, {}},
        {"打开剪辑项目…", kButton, {}},
    };
    EXPECT_EQ(windowControls(), joined(kHeader, invitation));

    // Three recordings edited; a fresh window over the same backup offers the last and two
    // before it.
    const auto sourceC = folder / "c.wav";
    writeFile(sourceC, "c");
    for (const auto& source : {sourceA, sourceB, sourceC}) open(source);
    mainWindow.reset();
    workspace.reset();
    workspace = makeWorkspace();
    showWindow();
    ASSERT_EQ(workspace->document().sessionBackupName, "c.wav");
    ASSERT_GE(workspace->document().recentSessions.size(), 2u);
    std::vector<Control> resume = {{"继续上次剪辑：\u2068c.wav\u2069", kButton, {}}};
    for (std::size_t i = 0; i < 2; ++i)
        resume.push_back({workspace->document().recentSessions[i].menuLabel(), kButton, {}});
    EXPECT_EQ(windowControls(), joined(joined(kHeader, invitation), resume));

    // The named row does what it says.
    act("继续上次剪辑：\u2068c.wav\u2069", QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().project; }));
    EXPECT_EQ(workspace->document().source, sourceC);
}

TEST_F(AccessibilityTest, EditorWithEveryRowAndItsPopovers) {
    openEditor();
    const std::vector<Control> editor = {
        {"播放或暂停", kButton, {}},
        {"跳转到原片时间", kButton, {}},
        {"跳过切点", kCheckBox, false},
        {"预览结果", kButton, {}},
        {"1×", kMenu, {}},
        {"循环", kCheckBox, false},
        {"按时间", kMenu, {}},
        {"选择", kButton, {}},
        {"更多停顿操作", kMenu, {}},
        // The reviewed pause is its row widget with its controls; the others are items that
        // read like their marks.
        {"00:01.0 1.0 s", kItem, true},
        {"切换保留或删除", kCheckBox, true},
        {"00:01.0", kButton, {}},
        {"听原音", kButton, {}},
        {"听剪后", kButton, {}},
        {"保留此停顿", kButton, {}},
        {"起点", kField, {}},
        {"终点", kField, {}},
        {"00:04.0 1.5 s", kItem, true},
        {"00:07.0 0.5 s", kItem, true},
        {"检测设置", kButton, {}},
        {"添加切点", kButton, {}},
        {"缩小波形", kButton, {}},
        {"放大波形", kButton, {}},
        {"波形向前半页", kButton, {}},
        {"波形向后半页", kButton, {}},
        {"当前段", kButton, {}},
        {"适配", kButton, {}},
        {"拖动调整起点，点击精确输入", kButton, {}},
        {"拖动调整终点，点击精确输入", kButton, {}},
    };
    EXPECT_EQ(windowControls(), joined(kHeader, editor));
    EXPECT_EQ(find(QAccessible::queryAccessibleInterface(mainWindow.get()), "拖动调整起点，点击精确输入")
                  ->text(QAccessible::Value),
              QStringLiteral("1.0000 秒"));
    EXPECT_EQ(popoverWindows(), std::vector<std::string>{});

    // Each popover, opened as a screen reader opens it, is a window of the application with
    // its own named controls; closed, it is gone from the list.
    struct Popover {
        std::string opener;
        std::string window;
        std::vector<Control> controls;
    };
    const Popover popovers[] = {
        {"添加切点",
         "添加切点",
         {{"起点", kField, {}},
          {"取起点", kButton, {}},
          {"终点", kField, {}},
          {"取终点", kButton, {}},
          {"听原音", kButton, {}},
          {"听剪后", kButton, {}},
          {"添加", kButton, {}}}},
        {"拖动调整起点，点击精确输入",
         "调整区间边界",
         {{"调整起点秒数", kField, {}},
          {"调整终点秒数", kField, {}},
          {"听原音", kButton, {}},
          {"听剪后", kButton, {}},
          {"取消", kButton, {}},
          {"应用", kButton, {}}}},
        {"跳转到原片时间",
         "跳转到原片时间",
         {{"秒 / 分:秒", kField, {}}, {"取消", kButton, {}}, {"跳转", kButton, {}}}},
    };
    for (const Popover& popover : popovers) {
        SCOPED_TRACE(popover.window);
        act(popover.opener, QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(waitUntil([&] { return popoverWindow(popover.window) != nullptr; }, 5000));
        EXPECT_EQ(popoverWindows(), std::vector<std::string>{popover.window});
        QAccessibleInterface* window = popoverWindow(popover.window);
        EXPECT_EQ(controls(window), popover.controls);
        auto* widget = qobject_cast<QWidget*>(window->object());
        ASSERT_NE(widget, nullptr);
        widget->close();
        settle();
        EXPECT_EQ(popoverWindows(), std::vector<std::string>{});
    }
}

TEST_F(AccessibilityTest, TheListsItemsActLikeTheirRows) {
    openEditor();
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(mainWindow.get());
    const Uuid second = workspace->document().project->cuts.at(1).id;

    // Toggling a painted row flips its pause and its checked state; pressing it reviews it,
    // and the row widget takes its place under the same name.
    act("00:04.0 1.5 s", QAccessibleActionInterface::toggleAction());
    settle();
    EXPECT_FALSE(workspace->document().project->cuts.at(1).remove);
    EXPECT_EQ(heard(*find(window, "00:04.0 1.5 s")), (Control{"00:04.0 1.5 s", kItem, false}));
    act("00:04.0 1.5 s", QAccessibleActionInterface::pressAction());
    settle();
    EXPECT_EQ(workspace->review().reviewID, second);
    QAccessibleInterface* row = find(window, "00:04.0 1.5 s");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->object(), &view().editor().findChild<PauseListView*>()->rowWidget());
    EXPECT_EQ(heard(*find(window, "删除此停顿")), (Control{"删除此停顿", kButton, {}}));

    // The mark of the row widget is checked with its checkmark: in batch mode, with the batch.
    act("切换保留或删除", QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(waitUntil([&] { return workspace->document().project->cuts.at(1).remove; }, 5000));
    settle();
    EXPECT_EQ(heard(*find(window, "切换保留或删除")), (Control{"切换保留或删除", kCheckBox, true}));
    workspace->beginBatchSelection();
    settle();
    EXPECT_EQ(heard(*find(window, "选择区间")), (Control{"选择区间", kCheckBox, false}));
    EXPECT_EQ(heard(*find(window, "00:07.0 0.5 s")), (Control{"00:07.0 0.5 s", kItem, false}));
    act("00:07.0 0.5 s", QAccessibleActionInterface::toggleAction());
    settle();
    EXPECT_EQ(workspace->review().batchIDs, std::set<Uuid>{workspace->document().project->cuts.at(2).id});
    EXPECT_TRUE(workspace->document().project->cuts.at(2).remove) << "in batch mode only the batch changes";
    EXPECT_EQ(heard(*find(window, "00:07.0 0.5 s")), (Control{"00:07.0 0.5 s", kItem, true}));

    // A new analysis lists new pauses: the items read the new list.
    workspace->resetBatchSelection();
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(3, 3.5, false)}; };
    CutOptions options = workspace->detection().cutOptions;
    options.minimumSilence = 1.5;
    workspace->setCutOptions(options);
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && !workspace->guards().needsAnalysis; }));
    settle();
    EXPECT_EQ(find(window, "00:04.0 1.5 s"), nullptr);
    QAccessibleInterface* list =
        QAccessible::queryAccessibleInterface(view().editor().findChild<PauseListView*>());
    ASSERT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name).toStdString(), "00:03.0 0.5 s");
}

TEST_F(AccessibilityTest, EachPanel) {
    openEditor();
    struct Panel {
        ModalPanel modal;
        std::string opener;  // a toggle that shows the rest of the panel, toggled first
        std::vector<Control> controls;
    };
    const Panel panels[] = {
        {ModalPanel::settings,
         "高级",
         {{"关闭", kButton, {}},
          {"轻柔", kRadio, false},
          {"自然", kRadio, true},
          {"紧凑", kRadio, false},
          {"高级", kCheckBox, true},
          {"手动阈值", kRadio, true},
          {"自动（测试版）", kRadio, false},
          {"静音阈值", kSlider, {}},
          {"最短停顿", kSlider, {}},
          {"保留边缘", kSlider, {}},
          {"两侧分别保留", kCheckBox, false},
          {"重置", kButton, {}},
          {"取消", kButton, {}},
          {"应用", kButton, {}}}},
        {ModalPanel::exportPanel,
         "",
         {{"M4A", kRadio, true},
          {"WAV", kRadio, false},
          {"更改…", kButton, {}},
          {"打开文件夹", kButton, {}},
          {"导出到其他剪辑软件…", kButton, {}},
          {"取消", kButton, {}},
          {"导出", kButton, {}}}},
    };
    for (const Panel& panel : panels) {
        SCOPED_TRACE(static_cast<int>(panel.modal));
        view().setModal(panel.modal);
        settle();
        ASSERT_NE(view().panel(), nullptr);
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(view().panel());
        if (!panel.opener.empty()) {
            QAccessibleInterface* opener = find(root, panel.opener);
            ASSERT_NE(opener, nullptr);
            opener->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            settle();
        }
        EXPECT_EQ(controls(root), panel.controls);
        view().setModal(std::nullopt);
        settle();
    }
}

TEST_F(AccessibilityTest, AChoicePressedByAScreenReaderIsTheCheckedOneOfItsGroup) {
    openEditor();
    struct Press {
        ModalPanel modal;
        std::string choice;
        // The group's choices and whether each is checked afterwards.
        std::vector<Control> group;
    };
    // Pressing the chosen one again keeps it checked; the last press of a panel is undone by
    // closing it, so each panel starts from the controller's state.
    const Press presses[] = {
        {ModalPanel::settings,
         "紧凑",
         {{"轻柔", kRadio, false}, {"自然", kRadio, false}, {"紧凑", kRadio, true}}},
        {ModalPanel::settings,
         "紧凑",
         {{"轻柔", kRadio, false}, {"自然", kRadio, false}, {"紧凑", kRadio, true}}},
        {ModalPanel::settings,
         "轻柔",
         {{"轻柔", kRadio, true}, {"自然", kRadio, false}, {"紧凑", kRadio, false}}},
        {ModalPanel::settings,
         "自动（测试版）",
         {{"手动阈值", kRadio, false}, {"自动（测试版）", kRadio, true}}},
        {ModalPanel::settings,
         "自动（测试版）",
         {{"手动阈值", kRadio, false}, {"自动（测试版）", kRadio, true}}},
        {ModalPanel::settings, "手动阈值", {{"手动阈值", kRadio, true}, {"自动（测试版）", kRadio, false}}},
        {ModalPanel::settings, "手动阈值", {{"手动阈值", kRadio, true}, {"自动（测试版）", kRadio, false}}},
        {ModalPanel::exportPanel, "WAV", {{"M4A", kRadio, false}, {"WAV", kRadio, true}}},
        {ModalPanel::exportPanel, "WAV", {{"M4A", kRadio, false}, {"WAV", kRadio, true}}},
        {ModalPanel::exportPanel, "M4A", {{"M4A", kRadio, true}, {"WAV", kRadio, false}}},
    };
    for (const Press& press : presses) {
        SCOPED_TRACE(press.choice);
        if (view().modal() != press.modal) {
            view().setModal(press.modal);
            settle();
        }
        ASSERT_NE(view().panel(), nullptr);
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(view().panel());
        if (press.modal == ModalPanel::settings && !find(root, "手动阈值")) {
            find(root, "高级")->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            settle();
        }
        QAccessibleInterface* choice = find(root, press.choice);
        ASSERT_NE(choice, nullptr);
        ASSERT_NE(choice->actionInterface(), nullptr);
        choice->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        settle();
        std::vector<Control> group;
        for (const Control& expected : press.group) {
            QAccessibleInterface* member = find(root, expected.name);
            ASSERT_NE(member, nullptr) << expected.name;
            group.push_back(heard(*member));
        }
        EXPECT_EQ(group, press.group);
    }
    EXPECT_EQ(workspace->exports().audioOutputFormat, AudioOutputFormat::m4a);
    view().setModal(std::nullopt);
    settle();
}

TEST_F(AccessibilityTest, TheControlsThatOnlySomeStatesShow) {
    openEditor();

    // Batch mode: the bar's links, and the reviewed row without its details, its mark selecting.
    workspace->beginBatchSelection();
    workspace->toggleBatchCut(workspace->document().project->cuts.at(1).id, false);
    settle();
    const std::vector<Control> all = windowControls();
    std::vector<Control> pauseList(std::find(all.begin(), all.end(), Control{"按时间", kMenu, {}}),
                                   std::find(all.begin(), all.end(), Control{"检测设置", kButton, {}}));
    EXPECT_EQ(pauseList, (std::vector<Control>{{"按时间", kMenu, {}},
                                               {"完成选择", kButton, {}},
                                               {"更多停顿操作", kMenu, {}},
                                               {"全选", kButton, {}},
                                               {"清空选择", kButton, {}},
                                               {"保留", kButton, {}},
                                               {"删除", kButton, {}},
                                               {"00:01.0 1.0 s", kItem, false},
                                               {"选择区间", kCheckBox, false},
                                               {"00:01.0", kButton, {}},
                                               {"00:04.0 1.5 s", kItem, true},
                                               {"00:07.0 0.5 s", kItem, false}}));
    act("完成选择", QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(waitUntil([&] { return !workspace->review().batchMode; }, 5000));

    // Both sides kept separately: the right side's slider is named too.
    view().setModal(ModalPanel::settings);
    settle();
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(view().panel());
    if (!find(panel, "两侧分别保留"))
        find(panel, "高级")->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    settle();
    find(panel, "两侧分别保留")->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    settle();
    const std::vector<Control> settings = controls(panel);
    EXPECT_NE(std::find(settings.begin(), settings.end(), Control{"两侧分别保留", kCheckBox, true}),
              settings.end());
    EXPECT_NE(std::find(settings.begin(), settings.end(), Control{"右侧保留", kSlider, {}}), settings.end());
    view().setModal(std::nullopt);
    settle();
}

// The result card after real exports of small generated media.
class ResultCardAccessibilityTest : public AccessibilityTest {
  protected:
    std::filesystem::path output = folder / "out";

    void SetUp() override {
        AccessibilityTest::SetUp();
        analysis.probeMedia = true;
        analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(0.5, 1.0, true)}; };
        workspace = std::make_unique<Workspace>(
            players, backupURL, std::vector<std::string>{"Talvian", "--output", output.string()},
            analysis.analyzer());
        workspace->setDesktopServices(&desktop);
        showWindow();
        workspace->setWindow(&window);
    }
};

TEST_F(ResultCardAccessibilityTest, EveryControlOfTheCardAfterAnExportAndAHandOff) {
    struct Result {
        std::string name;
        std::function<std::filesystem::path(const std::filesystem::path&)> make;  // the medium
        bool handoff;
        std::vector<Control> controls;
    };
    const Result results[] = {
        {"six-channel cut export",
         [](const std::filesystem::path& folder) {
             const auto room = folder / "room.wav";
             makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 6", room);
             return room;
         },
         false,
         {{"打开文件夹", kButton, {}}, {"声道 WAV…", kButton, {}}, {"完成", kButton, {}}}},
        {"stereo cut export",
         [](const std::filesystem::path& folder) {
             const auto talk = folder / "talk.wav";
             makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2", talk);
             return talk;
         },
         false,
         {{"打开文件夹", kButton, {}}, {"完成", kButton, {}}}},
        {"hand-off of a video",
         [](const std::filesystem::path& folder) {
             const auto clip = folder / "clip.mp4";
             makeRec709Video(clip, "30", 2);
             return clip;
         },
         true,
         {{"打开文件夹", kButton, {}}, {"完成", kButton, {}}, {"复制时间线路径", kButton, {}}}},
    };
    for (const Result& result : results) {
        SCOPED_TRACE(result.name);
        open(result.make(folder.path()));
        if (result.handoff) {
            window.chosenSaveLocation = folder / (result.name + " 剪映交接");
            workspace->exportHandoff();
        } else {
            workspace->exportCut();
        }
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().cutOutput; }))
            << workspace->job().status;
        settle();
        ASSERT_EQ(view().modal(), ModalPanel::done);
        QAccessibleInterface* card = QAccessible::queryAccessibleInterface(view().panel());
        EXPECT_EQ(controls(card), result.controls);
        // The copy button's value says whether the path was copied; its name stays.
        if (result.handoff) {
            QAccessibleInterface* copy = find(card, "复制时间线路径");
            ASSERT_NE(copy, nullptr);
            EXPECT_EQ(copy->text(QAccessible::Value), QStringLiteral("尚未复制"));
            copy->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            EXPECT_EQ(copy->text(QAccessible::Name), QStringLiteral("复制时间线路径"));
            EXPECT_EQ(copy->text(QAccessible::Value), QStringLiteral("已复制路径"));
        }
        // "完成" does what it says.
        find(card, "完成")->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_TRUE(waitUntil([&] { return !view().modal(); }, 5000));
    }
}

}  // namespace
}  // namespace talvian::test
