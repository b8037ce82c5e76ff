// Every control a screen reader meets, read through Qt's accessibility interfaces exactly as an
// assistive technology walks them from the application down: on the start screen (with and
// without an edit to resume), in the editor, in each panel and in each popover. Each control
// has a name saying what it does, buttons are buttons, checkable controls say whether they are
// checked, and the popovers are windows of the application.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QLineEdit>

#include <ostream>

#include "Shell/EditorView.h"
#include "Shell/TimelineArea.h"
#include "Shell/WorkspaceView.h"
#include "ShellFixture.h"
#include "Views/PauseListView.h"
#include "Views/StudioPopover.h"

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
            if (qobject_cast<QAbstractButton*>(accessible->object())) {
                EXPECT_TRUE(control.role == kButton || control.role == kCheckBox);
            }
            if (control.role == kCheckBox) {
                EXPECT_TRUE(control.checked.has_value()) << "not checkable";
            }
            // What a button does, a screen reader can do.
            const QAccessible::State state = accessible->state();
            if ((control.role == kButton || control.role == kCheckBox) && !state.disabled) {
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
        ASSERT_TRUE(waitUntil([&] { return workspace->previewReady(); }, 5000));
        workspace->selectCutRow(workspace->project()->cuts.at(0).id, false, false);
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
    ASSERT_EQ(workspace->sessionBackupName(), "c.wav");
    ASSERT_GE(workspace->recentSessions().size(), 2u);
    std::vector<Control> resume = {{"继续上次剪辑：c.wav", kButton, {}}};
    for (std::size_t i = 0; i < 2; ++i)
        resume.push_back({workspace->recentSessions()[i].menuLabel(), kButton, {}});
    EXPECT_EQ(windowControls(), joined(joined(kHeader, invitation), resume));

    // The named row does what it says.
    act("继续上次剪辑：c.wav", QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(waitUntil([&] { return !workspace->cutBusy() && workspace->project(); }));
    EXPECT_EQ(workspace->source(), sourceC);
}

TEST_F(AccessibilityTest, EditorWithEveryRowAndItsPopovers) {
    openEditor();
    const std::vector<Control> editor = {
        {"播放或暂停", kButton, {}},
        {"跳转到原片时间", kButton, {}},
        {"跳过切点", kCheckBox, false},
        {"预览结果", kButton, {}},
        {"1×", kButton, {}},
        {"循环", kCheckBox, false},
        {"按时间", kButton, {}},
        {"选择", kButton, {}},
        {"更多停顿操作", kButton, {}},
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
    const Uuid second = workspace->project()->cuts.at(1).id;

    // Toggling a painted row flips its pause and its checked state; pressing it reviews it,
    // and the row widget takes its place under the same name.
    act("00:04.0 1.5 s", QAccessibleActionInterface::toggleAction());
    settle();
    EXPECT_FALSE(workspace->project()->cuts.at(1).remove);
    EXPECT_EQ(heard(*find(window, "00:04.0 1.5 s")), (Control{"00:04.0 1.5 s", kItem, false}));
    act("00:04.0 1.5 s", QAccessibleActionInterface::pressAction());
    settle();
    EXPECT_EQ(workspace->reviewID(), second);
    QAccessibleInterface* row = find(window, "00:04.0 1.5 s");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->object(), &view().editor().findChild<PauseListView*>()->rowWidget());
    EXPECT_EQ(heard(*find(window, "删除此停顿")), (Control{"删除此停顿", kButton, {}}));

    // The mark of the row widget is checked with its checkmark: in batch mode, with the batch.
    act("切换保留或删除", QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(waitUntil([&] { return workspace->project()->cuts.at(1).remove; }, 5000));
    settle();
    EXPECT_EQ(heard(*find(window, "切换保留或删除")), (Control{"切换保留或删除", kCheckBox, true}));
    workspace->beginBatchSelection();
    settle();
    EXPECT_EQ(heard(*find(window, "选择区间")), (Control{"选择区间", kCheckBox, false}));
    EXPECT_EQ(heard(*find(window, "00:07.0 0.5 s")), (Control{"00:07.0 0.5 s", kItem, false}));
    act("00:07.0 0.5 s", QAccessibleActionInterface::toggleAction());
    settle();
    EXPECT_EQ(workspace->batchIDs(), std::set<Uuid>{workspace->project()->cuts.at(2).id});
    EXPECT_TRUE(workspace->project()->cuts.at(2).remove) << "in batch mode only the batch changes";
    EXPECT_EQ(heard(*find(window, "00:07.0 0.5 s")), (Control{"00:07.0 0.5 s", kItem, true}));

    // A new analysis lists new pauses: the items read the new list.
    workspace->resetBatchSelection();
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(3, 3.5, false)}; };
    CutOptions options = workspace->cutOptions();
    options.minimumSilence = 1.5;
    workspace->setCutOptions(options);
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->cutBusy() && !workspace->needsAnalysis(); }));
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
        StudioModal modal;
        std::string opener;  // a toggle that shows the rest of the panel, toggled first
        std::vector<Control> controls;
    };
    const Panel panels[] = {
        {StudioModal::settings,
         "高级",
         {{"关闭", kButton, {}},
          {"轻柔", kButton, {}},
          {"自然", kButton, {}},
          {"紧凑", kButton, {}},
          {"高级", kCheckBox, true},
          {"手动阈值", kButton, {}},
          {"自动（测试版）", kButton, {}},
          {"静音阈值", kSlider, {}},
          {"最短停顿", kSlider, {}},
          {"保留边缘", kSlider, {}},
          {"两侧分别保留", kCheckBox, false},
          {"重置", kButton, {}},
          {"取消", kButton, {}},
          {"应用", kButton, {}}}},
        {StudioModal::exportPanel,
         "",
         {{"M4A", kCheckBox, true},
          {"WAV", kCheckBox, false},
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

}  // namespace
}  // namespace talvian::test
