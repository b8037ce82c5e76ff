#include "Shell/ShortcutReference.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "ShellFixture.h"

// Failures print the texts, not their bytes.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace talvian::test {
namespace {

const std::vector<QString> kAllActions = {
    "导入素材",
    "打开剪辑项目",
    "保存剪辑项目",
    "撤销 / 重做",
    "播放 / 暂停",
    "上一段 / 下一段并听原音",
    "听当前段原音 / 剪后",
    "切换循环试听",
    "切换当前段保留 / 删除",
    "回退三段并听原音",
    "缩放波形",
    "适配全片",
    "用播放位置设起点 / 终点",
    "端点微调 0.01 秒",
    "端点微调 0.1 秒",
    "切换一个区间的选择",
    "追加当前顺序的连续范围",
};

std::vector<QString> actionsOf(const std::vector<ShortcutGroup>& groups) {
    std::vector<QString> actions;
    for (const ShortcutGroup& group : groups)
        for (const ShortcutRow& row : group.rows) actions.push_back(row.action);
    return actions;
}

TEST(ShortcutTable, HoldsTheGroupsInOrderWithTheExactSigns) {
    const auto& groups = ShortcutReference::groups();
    std::vector<QString> titles;
    for (const ShortcutGroup& group : groups) titles.push_back(group.title);
    EXPECT_EQ(titles, (std::vector<QString>{"素材与项目", "播放与逐段复核", "波形与复听", "手动标记与边界",
                                            "批量选择"}));
    EXPECT_EQ(actionsOf(groups), kAllActions);

    // The signs are easy to mistype as look-alikes (a hyphen for the minus, one space around
    // the dot): the code points are compared.
    const std::pair<QString, QString> keys[] = {
        {"打开剪辑项目", QString::fromUtf16(u"\u21E7\u2318O")},
        {"撤销 / 重做", QString::fromUtf16(u"\u2318Z / \u21E7\u2318Z")},
        {"播放 / 暂停", QString::fromUtf16(u"\u7A7A\u683C")},
        {"上一段 / 下一段并听原音",
         QString::fromUtf16(u"\u2191 / \u2193  \u00B7  \u2325\u2318P / \u2325\u2318N")},
        {"听当前段原音 / 剪后", QString::fromUtf16(u"O / R  \u00B7  \u2325\u23181 / \u2325\u23182")},
        {"切换当前段保留 / 删除", QString::fromUtf16(u"Delete  \u00B7  \u2325\u2318R")},
        {"缩放波形", QString::fromUtf16(u"+ / \u2212")},
        {"端点微调 0.01 秒", QString::fromUtf16(u"\u2190 / \u2192")},
        {"端点微调 0.1 秒", QString::fromUtf16(u"\u21E7\u2190 / \u21E7\u2192")},
        {"切换一个区间的选择", QString::fromUtf16(u"\u2318\u70B9\u65F6\u95F4\u7801")},
    };
    for (const auto& [action, expected] : keys) {
        SCOPED_TRACE(action.toStdString());
        bool found = false;
        for (const ShortcutGroup& group : groups)
            for (const ShortcutRow& row : group.rows)
                if (row.action == action) {
                    found = true;
                    EXPECT_EQ(row.keys, expected);
                }
        EXPECT_TRUE(found);
    }
    // The two fine-tuning rows and the two batch rows share their remarks; the others without
    // a remark have none.
    EXPECT_EQ(groups[3].rows[1].note, groups[3].rows[2].note);
    EXPECT_EQ(groups[4].rows[0].note, groups[4].rows[1].note);
    EXPECT_EQ(groups[4].rows[0].note, QString("选择本身不改剪辑；再点“保留所选”或“删除所选”。"));
    EXPECT_FALSE(groups[0].rows[0].note.has_value());
}

TEST(ShortcutSearch, FoldsWidthCaseAccentsModifierNamesSpacesAndPlusSigns) {
    const std::pair<QString, QString> cases[] = {
        {"Cmd + S", "⌘s"},
        {QString::fromUtf16(u"\uFF43\uFF4D\uFF44\u3000\uFF53"), "⌘s"},  // full-width, ideographic space
        {"COMMAND", "⌘"},
        {"Control+Shift+Z", "⌘⇧z"},
        {"ctrl", "⌘"},
        {"Option alt", "⌥⌥"},
        {"space", "空格"},
        {"Délète", "delete"},
        {" + \t+\n", ""},
        // The signs of the table come through the fold unchanged.
        {"⌘ ⌥ ⇧ − ↑ ↓ ← → ·", "⌘⌥⇧−↑↓←→·"},
        {"端点微调 0.1 秒", "端点微调0.1秒"},
    };
    for (const auto& [typed, folded] : cases) {
        SCOPED_TRACE(typed.toStdString());
        EXPECT_EQ(ShortcutReference::searchText(typed), folded);
    }
}

TEST(ShortcutSearch, KeepsTheRowsWhoseGroupActionKeysOrNoteHoldTheQuery) {
    const std::vector<QString> save = {"保存剪辑项目"};
    const std::vector<QString> withO = {"导入素材", "打开剪辑项目", "用播放位置设起点 / 终点"};
    const std::vector<QString> withOption = {"上一段 / 下一段并听原音", "听当前段原音 / 剪后", "切换循环试听",
                                             "切换当前段保留 / 删除", "用播放位置设起点 / 终点"};
    const std::vector<QString> withShift = {"打开剪辑项目", "撤销 / 重做", "端点微调 0.1 秒",
                                            "追加当前顺序的连续范围"};
    struct Case {
        QString query;
        std::vector<QString> actions;
        QString count;
    };
    const Case cases[] = {
        {"", kAllActions, "17 项操作"},
        {"   ", kAllActions, "17 项匹配"},
        {"+", kAllActions, "17 项匹配"},  // the zoom row cannot be singled out by its plus
        {" + + ", kAllActions, "17 项匹配"},
        {"cmd s", save, "1 项匹配"},
        {"Cmd+S", save, "1 项匹配"},
        {"⌘s", save, "1 项匹配"},
        {"⌘S", save, "1 项匹配"},
        {"ctrl s", save, "1 项匹配"},
        {"Ctrl+S", save, "1 项匹配"},
        {"command s", save, "1 项匹配"},
        {QString::fromUtf16(u"\uFF43\uFF4D\uFF44 \uFF53"), save, "1 项匹配"},
        {"循环", {"切换循环试听"}, "1 项匹配"},
        {"alt", withOption, "5 项匹配"},
        {"option", withOption, "5 项匹配"},
        {"Alt", withOption, "5 项匹配"},
        {"shift", withShift, "4 项匹配"},
        {"⇧", withShift, "4 项匹配"},
        {"space", {"播放 / 暂停"}, "1 项匹配"},
        {"空格", {"播放 / 暂停"}, "1 项匹配"},
        {"delete", {"切换当前段保留 / 删除"}, "1 项匹配"},
        {"Délete", {"切换当前段保留 / 删除"}, "1 项匹配"},
        {"批量", {"切换一个区间的选择", "追加当前顺序的连续范围"}, "2 项匹配"},  // the group title
        {"⌘o", withO, "3 项匹配"},
        {"cmd o", withO, "3 项匹配"},
        {"Cmd+O", withO, "3 项匹配"},
        {QString::fromUtf16(u"\uFF23\uFF4D\uFF44\uFF0B\uFF2F"), withO, "3 项匹配"},
        {"−", {"缩放波形"}, "1 项匹配"},
        {"·", {"上一段 / 下一段并听原音", "听当前段原音 / 剪后", "切换当前段保留 / 删除"}, "3 项匹配"},
        {"⇧←", {"端点微调 0.1 秒"}, "1 项匹配"},
        {"添加删除区间", {"用播放位置设起点 / 终点"}, "1 项匹配"},  // in the note only
        {"qxz", {}, "0 项匹配"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        const auto kept = ShortcutReference::matches(c.query);
        EXPECT_EQ(actionsOf(kept), c.actions);
        for (const ShortcutGroup& group : kept) EXPECT_FALSE(group.rows.empty()) << group.title.toStdString();
        EXPECT_EQ(ShortcutReference::countText(c.query), c.count);
    }
}

// The sheet over a real window, opened as the window opens it.
class ShortcutSheet : public ::testing::Test {
  protected:
    QWidget window;
    ShortcutReference* sheet = nullptr;

    void SetUp() override {
        window.resize(900, 700);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        sheet = new ShortcutReference(&window);
        sheet->open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
        ASSERT_TRUE(QTest::qWaitFor([&] { return field().hasFocus(); }, 5000));
    }

    QLineEdit& field() { return sheet->searchField(); }
    // A picture after the layouts have caught up with the last change.
    void shot(const std::string& name) {
        QCoreApplication::processEvents();
        saveShot(*sheet, name);
    }

    // The actions whose rows are on screen, in table order.
    std::vector<QString> shownActions() {
        std::vector<QString> shown;
        const auto labels = sheet->findChildren<QLabel*>();
        for (const QString& action : kAllActions)
            for (QLabel* label : labels)
                if (label->text() == action && label->isVisible()) shown.push_back(action);
        return shown;
    }
    int shownGroupTitles() {
        int shown = 0;
        for (QLabel* label : sheet->findChildren<QLabel*>())
            for (const ShortcutGroup& group : ShortcutReference::groups())
                if (label->text() == group.title && label->isVisible()) ++shown;
        return shown;
    }
};

TEST_F(ShortcutSheet, OpensWindowModalWithTheWholeTableAndTheSearchFocused) {
    // The fixture waited for the focus to reach the search field.
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->size(), QSize(560, 600));
    EXPECT_EQ(sheet->query(), QString());
    EXPECT_EQ(shownActions(), kAllActions);
    EXPECT_EQ(shownGroupTitles(), 5);
    EXPECT_EQ(sheet->countLabel().text(), "17 项操作");
    EXPECT_FALSE(sheet->clearButton().isVisible());
    EXPECT_FALSE(sheet->noMatchState().isVisible());
    EXPECT_EQ(field().placeholderText(), "搜索操作或按键");
    EXPECT_EQ(field().accessibleName(), "搜索快捷键");
    EXPECT_EQ(sheet->clearButton().accessibleName(), "清空快捷键搜索");
    // No Latin word on screen but the names of keys.
    for (QString text : visibleTexts(*sheet)) {
        for (const char* key : {"Ctrl", "Alt", "Shift", "Delete"}) text.remove(QLatin1String(key));
        const bool latinWord = text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}")));
        EXPECT_FALSE(latinWord) << text.toStdString();
    }
    shot("shortcut-reference");
}

TEST_F(ShortcutSheet, TypingNarrowsTheListAndTheCountAndScrollsToTheTop) {
    QScrollBar& bar = *sheet->list().verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.maximum() > 0; }, 5000)) << "the whole table overflows";
    bar.setValue(bar.maximum());
    shot("shortcut-reference-end");

    QTest::keyClicks(&field(), "shift");
    EXPECT_EQ(sheet->query(), "shift");
    EXPECT_EQ(shownActions(), (std::vector<QString>{"打开剪辑项目", "撤销 / 重做", "端点微调 0.1 秒",
                                                    "追加当前顺序的连续范围"}));
    EXPECT_EQ(shownGroupTitles(), 3);
    EXPECT_EQ(sheet->countLabel().text(), "4 项匹配");
    EXPECT_TRUE(sheet->clearButton().isVisible());
    EXPECT_EQ(bar.value(), 0);
    shot("shortcut-reference-shift");

    QTest::keyClicks(&field(), "qq");
    EXPECT_TRUE(shownActions().empty());
    EXPECT_EQ(shownGroupTitles(), 0);
    EXPECT_TRUE(sheet->noMatchState().isVisible());
    EXPECT_EQ(sheet->countLabel().text(), "0 项匹配");
    shot("shortcut-reference-no-match");

    field().clear();
    QTest::keyClicks(&field(), "  ");
    EXPECT_EQ(shownActions(), kAllActions);
    EXPECT_EQ(sheet->countLabel().text(), "17 项匹配");
    EXPECT_TRUE(sheet->clearButton().isVisible());
    EXPECT_FALSE(sheet->noMatchState().isVisible());
}

TEST_F(ShortcutSheet, TheClearButtonEmptiesTheSearchAndKeepsTheFocusThere) {
    QTest::keyClicks(&field(), "cmd s");
    ASSERT_EQ(shownActions(), std::vector<QString>{"保存剪辑项目"});

    QTest::mouseClick(&sheet->clearButton(), Qt::LeftButton);
    EXPECT_EQ(sheet->query(), QString());
    EXPECT_TRUE(field().hasFocus());
    EXPECT_FALSE(sheet->clearButton().isVisible());
    EXPECT_EQ(shownActions(), kAllActions);
    EXPECT_EQ(sheet->countLabel().text(), "17 项操作");

    // Reached from the keyboard the button holds the focus when pressed; clearing hands it back.
    QTest::keyClicks(&field(), "alt");
    sheet->clearButton().setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(sheet->clearButton().hasFocus());
    QTest::keyClick(&sheet->clearButton(), Qt::Key_Space);
    EXPECT_EQ(sheet->query(), QString());
    EXPECT_TRUE(field().hasFocus());
}

TEST_F(ShortcutSheet, CtrlFReturnsTheFocusToTheSearch) {
    sheet->closeButton().setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(sheet->closeButton().hasFocus());
    QTest::keyClick(&sheet->closeButton(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(field().hasFocus());
    EXPECT_EQ(sheet->query(), QString()) << "the shortcut types nothing";
    EXPECT_TRUE(sheet->isVisible());
}

// Return and Enter in the field keep the sheet; Escape and "关闭" close it.
TEST_F(ShortcutSheet, OnlyEscapeAndTheCloseButtonCloseTheSheet) {
    struct Case {
        const char* name;
        std::function<void(ShortcutReference&)> act;
        bool closes;
    };
    const Case cases[] = {
        {"Return in the field",
         [](ShortcutReference& s) { QTest::keyClick(&s.searchField(), Qt::Key_Return); }, false},
        {"Enter in the field",
         [](ShortcutReference& s) { QTest::keyClick(&s.searchField(), Qt::Key_Enter, Qt::KeypadModifier); },
         false},
        {"Return with a search",
         [](ShortcutReference& s) {
             QTest::keyClicks(&s.searchField(), "cmd s");
             QTest::keyClick(&s.searchField(), Qt::Key_Return);
         },
         false},
        {"Escape in the field",
         [](ShortcutReference& s) { QTest::keyClick(&s.searchField(), Qt::Key_Escape); }, true},
        {"the close button",
         [](ShortcutReference& s) { QTest::mouseClick(&s.closeButton(), Qt::LeftButton); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto fresh = std::make_unique<ShortcutReference>(&window);
        QSignalSpy finished(fresh.get(), &QDialog::finished);
        fresh->open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(fresh.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fresh->searchField().hasFocus(); }, 5000));
        c.act(*fresh);
        if (c.closes) {
            EXPECT_EQ(finished.size(), 1);
            EXPECT_FALSE(fresh->isVisible());
        } else {
            EXPECT_TRUE(finished.isEmpty());
            EXPECT_TRUE(fresh->isVisible());
        }
    }
}

}  // namespace
}  // namespace talvian::test
