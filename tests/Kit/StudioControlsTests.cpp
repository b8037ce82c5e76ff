#include "Kit/StudioControls.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "Pixels.h"

namespace talvian {
namespace {

using test::at;
using test::distance;
using test::grabbed;
using test::over;

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
// Antialiased text rarely covers a pixel exactly: the strongest label pixel comes this close.
constexpr int kInkTolerance = 16;
constexpr int kFillTolerance = 2;

// The pixel inside the label area that differs most from `fill`: the label's own colour.
QColor strongestInk(const QImage& image, const QRect& area, const QColor& fill) {
    QColor strongest = fill;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = at(image, x, y);
            if (distance(pixel, fill) > distance(strongest, fill)) strongest = pixel;
        }
    }
    return strongest;
}

// A shown, active window holding `widget`, for pointer, key and focus behaviour.
class ShownWindow {
  public:
    ShownWindow() { window_.setLayout(new QVBoxLayout); }
    template <class Widget>
    Widget* add(Widget* widget) {
        window_.layout()->addWidget(widget);
        return widget;
    }
    bool show() {
        window_.resize(320, 240);
        window_.show();
        window_.activateWindow();
        return QTest::qWaitForWindowActive(&window_);
    }
    QWidget& window() { return window_; }

  private:
    QWidget window_;
};

TEST(StudioButton, PaintsItsFillAndLabelForEachState) {
    struct Look {
        const char* state;
        bool primary;
        bool icon;
        bool enabled;
        bool down;
        QColor fill;
        std::optional<QColor> ink;
    };
    const QColor rest = over(Qt::white, 0.065);
    const Look looks[] = {
        {"primary", true, false, true, false, Studio::coral, QColor(Qt::black)},
        {"primary pressed", true, false, true, true, over(Studio::coral, 0.8), std::nullopt},
        {"primary disabled", true, false, false, false, rest, over(Studio::text, 0.4, rest)},
        {"secondary", false, false, true, false, rest, Studio::text},
        {"secondary pressed", false, false, true, true, over(Qt::white, 0.14 * 0.8), std::nullopt},
        {"secondary disabled", false, false, false, false, rest, over(Studio::text, 0.4, rest)},
        {"icon", false, true, true, false, rest, Studio::text},
        {"icon disabled", false, true, false, false, rest, over(Studio::text, 0.4, rest)},
    };
    for (const Look& look : looks) {
        SCOPED_TRACE(look.state);
        test::Host host;
        StudioButton* button = look.icon ? StudioButton::iconButton("square", QStringLiteral("方块"))
                                         : new StudioButton(QStringLiteral("Hill HH"), look.primary);
        host.hold(*button);
        button->setEnabled(look.enabled);
        button->setDown(look.down);

        const QImage image = grabbed(host);
        // Left of the label, halfway down: inside the rounded fill, clear of its corners.
        EXPECT_LE(distance(at(image, 4, image.height() / 2), look.fill), kFillTolerance)
            << "fill " << at(image, 4, image.height() / 2).name().toStdString();
        if (look.ink) {
            const QRect label = button->rect().adjusted(10, 9, -10, -9);
            const QColor ink = strongestInk(image, label, look.fill);
            EXPECT_LE(distance(ink, *look.ink), kInkTolerance) << "ink " << ink.name().toStdString();
        }
    }
}

TEST(StudioButton, PrimaryButtonsHaveWiderPaddingAndIconButtonsNameThemselves) {
    const StudioButton primary(QStringLiteral("导出"), true);
    const StudioButton secondary(QStringLiteral("导出"), false);
    EXPECT_EQ(primary.sizeHint().width() - secondary.sizeHint().width(), 2 * (24 - 12));
    EXPECT_EQ(primary.sizeHint().height(), secondary.sizeHint().height());

    const std::unique_ptr<StudioButton> icon(StudioButton::iconButton("clock", QStringLiteral("历史")));
    EXPECT_EQ(icon->toolTip(), QStringLiteral("历史"));
    EXPECT_EQ(icon->sizeHint(), QSize(15 + 24, 15 + 18));
}

TEST(StudioButton, ASymbolBesideTheTextComesFirstAndWidensTheButton) {
    const QColor rest = over(Qt::white, 0.065);
    StudioButton plain(QStringLiteral("听原音"));
    StudioButton labelled(QStringLiteral("听原音"));
    labelled.setSymbol("play.fill");
    EXPECT_EQ(labelled.sizeHint().width() - plain.sizeHint().width(), 12 + 6);
    EXPECT_EQ(labelled.sizeHint().height(), plain.sizeHint().height());
    // Both at the labelled button's width: the symbol takes the strip after the padding, where
    // the text alone, centred, leaves the fill bare.
    const QRect symbolStrip(12, 9, 8, labelled.sizeHint().height() - 18);
    struct Case {
        const char* name;
        StudioButton& button;
        bool inked;
    };
    const Case cases[] = {{"symbol and text", labelled, true}, {"text only", plain, false}};
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        test::Host host;
        item.button.setFixedSize(labelled.sizeHint());
        host.hold(item.button);
        const QImage image = grabbed(host);
        const QColor ink = strongestInk(image, symbolStrip, rest);
        if (item.inked)
            EXPECT_LE(distance(ink, Studio::text), kInkTolerance) << ink.name().toStdString();
        else
            EXPECT_LE(distance(ink, rest), kFillTolerance) << ink.name().toStdString();
        item.button.setParent(nullptr);
    }
    EXPECT_EQ(labelled.text(), QStringLiteral("听原音")) << "the name stays the text";
}

TEST(StudioButton, OnlyAnEnabledButtonCanBeClicked) {
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "enabled" : "disabled");
        ShownWindow shown;
        StudioButton* button = shown.add(new StudioButton(QStringLiteral("导出"), true));
        button->setEnabled(enabled);
        ASSERT_TRUE(shown.show());
        QSignalSpy clicks(button, &QAbstractButton::clicked);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(clicks.count(), enabled ? 1 : 0);
    }
}

TEST(StudioControls, ButtonsLinksAndTogglesTakeFocusOnlyFromTheKeyboard) {
    ShownWindow shown;
    StudioField* field = shown.add(new StudioField(QStringLiteral("名称")));
    const std::vector<QAbstractButton*> controls = {
        shown.add(new StudioButton(QStringLiteral("导出"), true)),
        shown.add(StudioButton::iconButton("clock", QStringLiteral("历史"))),
        shown.add(new StudioLink(QStringLiteral("了解更多"), Studio::secondary)),
        shown.add(new StudioToggle(QStringLiteral("自动播放"), false)),
        shown.add(new StudioToggle(QStringLiteral("保留原片"), true)),
    };
    ASSERT_TRUE(shown.show());
    field->setFocus();
    ASSERT_TRUE(field->hasFocus());
    for (QAbstractButton* control : controls) {
        SCOPED_TRACE(control->metaObject()->className());
        EXPECT_EQ(control->focusPolicy(), Qt::TabFocus);
        QSignalSpy clicks(control, &QAbstractButton::clicked);
        QTest::mouseClick(control, Qt::LeftButton);
        EXPECT_EQ(clicks.count(), 1);
        EXPECT_TRUE(field->hasFocus()) << "the click moved the focus";
    }
}

TEST(StudioToggle, FlipsOnClickAndOnSpaceAndSaysItsState) {
    for (const bool checkbox : {false, true}) {
        SCOPED_TRACE(checkbox ? "checkbox" : "switch");
        ShownWindow shown;
        StudioToggle* toggle = shown.add(new StudioToggle(QStringLiteral("自动播放"), checkbox));
        ASSERT_TRUE(shown.show());
        // A screen reader hears a check box named by the label, checked when on, and the value.
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(toggle);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
        EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("自动播放"));
        auto heard = [&] {
            const QAccessible::State state = accessible->state();
            EXPECT_TRUE(state.checkable);
            EXPECT_TRUE(accessible->text(QAccessible::Description).isEmpty());
            return std::pair{bool(state.checked), accessible->text(QAccessible::Value)};
        };
        const std::pair off{false, QStringLiteral("已关闭")};
        const std::pair on{true, QStringLiteral("已开启")};
        EXPECT_FALSE(toggle->isChecked());
        EXPECT_EQ(heard(), off);

        QTest::mouseClick(toggle, Qt::LeftButton);
        EXPECT_TRUE(toggle->isChecked());
        EXPECT_EQ(heard(), on);

        toggle->setFocus();
        ASSERT_TRUE(toggle->hasFocus());
        QTest::keyClick(toggle, Qt::Key_Space);
        EXPECT_FALSE(toggle->isChecked());
        EXPECT_EQ(heard(), off);

        toggle->setChecked(true);
        EXPECT_EQ(heard(), on);

        // Its toggle action is a click: the owner hears it like the user's own.
        QSignalSpy clicks(toggle, &QAbstractButton::clicked);
        ASSERT_TRUE(accessible->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::toggleAction()));
        accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(clicks.count(), 1);
        EXPECT_EQ(heard(), off);
    }
}

TEST(StudioToggle, SwitchKnobSitsAtTheTrailingEndWhenOn) {
    // The switch is 30 × 18 with a 14 px knob inset 2 px: its centre is at x 9 off, 21 on.
    constexpr int kLeading = 9, kTrailing = 21, kMiddle = 9;
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on ? "on" : "off");
        test::Host host;
        auto* toggle = new StudioToggle(QString(), false);
        host.hold(*toggle);
        toggle->setChecked(on);
        ASSERT_EQ(toggle->size(), QSize(30, 18));

        const QImage image = grabbed(host);
        const QColor track = over(Qt::white, on ? 0.28 : 0.1);
        EXPECT_LE(distance(at(image, on ? kTrailing : kLeading, kMiddle), Studio::text), kFillTolerance);
        EXPECT_LE(distance(at(image, on ? kLeading : kTrailing, kMiddle), track), kFillTolerance);
    }
}

TEST(StudioToggle, CheckboxShowsTheFilledMarkInTextColourWhenOn) {
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on ? "on" : "off");
        test::Host host;
        auto* toggle = new StudioToggle(QString(), true);
        host.hold(*toggle);
        toggle->setChecked(on);
        const QImage image = grabbed(host);
        const QRect mark(0, (image.height() - 16) / 2, 16, 16);
        EXPECT_LE(
            distance(strongestInk(image, mark, Studio::background), on ? Studio::text : Studio::secondary),
            kInkTolerance);
        // Inside the mark, clear of the check: filled when on, the window shows through when off.
        EXPECT_LE(distance(at(image, 5, mark.top() + 5), on ? Studio::text : Studio::background),
                  kFillTolerance);
    }
}

TEST(StudioProgress, FillsItsFractionOfTheWidthOrAStillThirdWhenIndeterminate) {
    constexpr int kWidth = 200;
    struct Fill {
        std::optional<double> fraction;
        double width;
    };
    const Fill fills[] = {{0.5, 100}, {std::nullopt, 60}, {0.0, 0},   {1.0, 200},
                          {1.7, 200}, {-0.2, 0},          {0.25, 50}, {kNotANumber, 0}};
    const QColor track = over(Qt::white, 0.1);
    for (const Fill& fill : fills) {
        SCOPED_TRACE(fill.fraction ? std::to_string(*fill.fraction) : "indeterminate");
        EXPECT_DOUBLE_EQ(StudioProgress::fillWidth(fill.fraction, kWidth), fill.width);

        test::Host host;
        auto* progress = new StudioProgress;
        progress->setFraction(fill.fraction);
        host.hold(*progress);
        progress->resize(kWidth, progress->height());
        host.resize(progress->size());
        ASSERT_EQ(progress->height(), 4);
        const QImage image = grabbed(host);
        const int x = static_cast<int>(fill.width);
        if (x >= 3) {
            EXPECT_LE(distance(at(image, x - 3, 2), Studio::wave), kFillTolerance);
        }
        if (x <= kWidth - 3) {
            EXPECT_LE(distance(at(image, x + 2, 2), track), kFillTolerance);
        }
    }
}

TEST(StudioSlider, FractionIsClampedAndNotANumberCountsAsZero) {
    struct Case {
        double value, lower, upper, fraction;
    };
    const Case cases[] = {
        {-35, -80, -10, 45.0 / 70}, {-80, -80, -10, 0}, {-10, -80, -10, 1},
        {-100, -80, -10, 0},        {5, 0.15, 3, 1},    {0, 0.15, 3, 0},
        {kNotANumber, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " in " << c.lower << "…" << c.upper);
        EXPECT_DOUBLE_EQ(StudioSlider::fraction(c.value, c.lower, c.upper), c.fraction);
    }
    EXPECT_NEAR(StudioSlider::fraction(-35, -80, -10), 0.642857, 1e-6);
}

TEST(StudioSlider, PointerPositionMapsOntoTheRange) {
    struct Case {
        double x, width, value;
    };
    const Case cases[] = {{50, 200, 2.5}, {0, 200, 0}, {200, 200, 10},  {-30, 200, 0},
                          {260, 200, 10}, {0.5, 0, 5}, {0.25, 0.5, 2.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " of " << c.width);
        EXPECT_DOUBLE_EQ(StudioSlider::valueAt(c.x, c.width, 0, 10), c.value);
    }
}

TEST(StudioSlider, ArrowKeysStepAHundredthOfTheRangeWithinIt) {
    struct Step {
        double lower, upper, from;
        Qt::Key key;
        bool repeated;
        double to;
    };
    const Step steps[] = {
        {-80, -10, -35, Qt::Key_Right, false, -34.3}, {-80, -10, -35, Qt::Key_Left, false, -35.7},
        {-80, -10, -10.2, Qt::Key_Right, false, -10}, {-80, -10, -79.5, Qt::Key_Left, true, -80},
        {-80, -10, -10, Qt::Key_Right, true, -10},    {0.15, 3, 5, Qt::Key_Left, false, 3},
        {0, 1, 0.5, Qt::Key_Right, true, 0.51},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.from << (step.key == Qt::Key_Right ? " right" : " left"));
        StudioSlider slider(step.lower, step.upper);
        slider.setValue(step.from);
        QSignalSpy edits(&slider, &StudioSlider::valueEdited);
        QKeyEvent press(QEvent::KeyPress, step.key, Qt::NoModifier, QString(), step.repeated);
        QApplication::sendEvent(&slider, &press);
        EXPECT_TRUE(press.isAccepted());
        EXPECT_DOUBLE_EQ(slider.value(), step.to);
        ASSERT_EQ(edits.count(), 1);
        EXPECT_DOUBLE_EQ(edits.at(0).at(0).toDouble(), step.to);
    }
}

TEST(StudioSlider, OtherKeysTravelOnToTheWindow) {
    QWidget window;
    auto* slider = new StudioSlider(0, 1, &window);
    slider->setValue(0.5);
    QSignalSpy edits(slider, &StudioSlider::valueEdited);

    class KeyRecorder : public QObject {
      public:
        std::vector<int> keys;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::KeyPress) keys.push_back(static_cast<QKeyEvent*>(event)->key());
            return false;
        }
    } recorder;
    window.installEventFilter(&recorder);

    const std::vector<int> passed = {Qt::Key_Space, Qt::Key_Up, Qt::Key_Down, Qt::Key_A, Qt::Key_Return};
    for (const int key : passed) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(slider, &press);
    }
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(slider, &right);

    EXPECT_EQ(recorder.keys, passed);
    EXPECT_EQ(edits.count(), 1);
}

TEST(StudioSlider, PressAndDragSetTheValueAndTheClickTakesFocus) {
    ShownWindow shown;
    StudioSlider* slider = shown.add(new StudioSlider(0, 10));
    ASSERT_TRUE(shown.show());
    slider->setFixedWidth(200);
    QApplication::processEvents();
    ASSERT_EQ(slider->width(), 200);
    EXPECT_EQ(slider->height(), StudioSlider::kHeight);
    EXPECT_EQ(slider->focusPolicy(), Qt::StrongFocus);
    QSignalSpy edits(slider, &StudioSlider::valueEdited);

    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(50, 11));
    EXPECT_DOUBLE_EQ(slider->value(), 2.5);
    EXPECT_TRUE(slider->hasFocus());

    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(20, 11));
    QMouseEvent drag(QEvent::MouseMove, QPointF(150, 11), slider->mapToGlobal(QPointF(150, 11)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &drag);
    EXPECT_DOUBLE_EQ(slider->value(), 7.5);
    QMouseEvent beyond(QEvent::MouseMove, QPointF(400, 11), slider->mapToGlobal(QPointF(400, 11)),
                       Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &beyond);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(400, 11));
    EXPECT_DOUBLE_EQ(slider->value(), 10);

    std::vector<double> edited;
    for (const QList<QVariant>& edit : edits) edited.push_back(edit.at(0).toDouble());
    EXPECT_EQ(edited, (std::vector<double>{2.5, 1, 7.5, 10}));

    QMouseEvent hover(QEvent::MouseMove, QPointF(100, 11), slider->mapToGlobal(QPointF(100, 11)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &hover);
    EXPECT_DOUBLE_EQ(slider->value(), 10) << "a move without a pressed button edits nothing";
}

TEST(StudioSlider, AValueOutsideTheRangeIsDrawnAtTheEndAndKeptUntilMoved) {
    test::Host host;
    auto* slider = new StudioSlider(0.15, 3);
    host.hold(*slider);
    slider->resize(200, StudioSlider::kHeight);
    host.resize(slider->size());
    slider->setValue(5);

    const QImage image = grabbed(host);
    const int middle = StudioSlider::kHeight / 2;
    EXPECT_LE(distance(at(image, 194, middle), Studio::text), kFillTolerance) << "knob at the end";
    EXPECT_LE(distance(at(image, 100, middle), Studio::wave), kFillTolerance) << "full fill";
    EXPECT_LE(distance(at(image, 100, 2), Studio::background), kFillTolerance) << "above the track";
    EXPECT_EQ(slider->value(), 5);
}

TEST(StudioSlider, KnobAndFillFollowTheFraction) {
    test::Host host;
    auto* slider = new StudioSlider(-80, -10);
    host.hold(*slider);
    slider->resize(200, StudioSlider::kHeight);
    host.resize(slider->size());
    slider->setValue(-45);  // a half: knob from 94 to 106, fill to 100

    const QImage image = grabbed(host);
    const int middle = StudioSlider::kHeight / 2;
    EXPECT_LE(distance(at(image, 100, middle - 4), Studio::text), kFillTolerance) << "knob above the track";
    EXPECT_LE(distance(at(image, 50, middle), Studio::wave), kFillTolerance);
    EXPECT_LE(distance(at(image, 150, middle), over(Qt::white, 0.15)), kFillTolerance);
}

TEST(StudioSlider, ReadsItsValueWithTwoDecimalsToAssistiveTechnology) {
    StudioSlider slider(-80, -10);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&slider);
    ASSERT_NE(accessible, nullptr);
    const std::pair<double, QString> readings[] = {{-35, "-35.00"}, {-34.3, "-34.30"}, {0.126, "0.13"}};
    for (const auto& [value, text] : readings) {
        slider.setValue(value);
        EXPECT_EQ(accessible->text(QAccessible::Value), text);
    }
}

TEST(StudioField, ShowsItsTitleAndLeavesDropsToTheWindow) {
    const StudioField field(QStringLiteral("项目名称"));
    EXPECT_EQ(field.placeholderText(), QStringLiteral("项目名称"));
    EXPECT_FALSE(field.acceptDrops());
}

TEST(StudioScroll, ScrollsOnlyVerticallyAndNeverTakesFocus) {
    auto* content = new QLabel(QStringLiteral("内容"));
    const StudioScroll scroll(content);
    EXPECT_EQ(scroll.widget(), content);
    EXPECT_TRUE(scroll.widgetResizable());
    EXPECT_EQ(scroll.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(scroll.verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(scroll.frameShape(), QFrame::NoFrame);
    EXPECT_EQ(scroll.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(scroll.viewport()->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(scroll.viewport()->autoFillBackground());
    EXPECT_FALSE(content->autoFillBackground());
}

}  // namespace
}  // namespace talvian
