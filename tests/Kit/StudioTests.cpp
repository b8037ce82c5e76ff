#include "Kit/Studio.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPalette>
#include <QStyle>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "Pixels.h"

namespace talvian {
namespace {

constexpr std::string_view kSymbolNames[] = {
    "waveform",
    "arrow.uturn.backward",
    "arrow.uturn.forward",
    "clock",
    "chevron.right",
    "desktopcomputer",
    "exclamationmark.triangle",
    "checkmark.square.fill",
    "square",
    "play.fill",
    "pause.fill",
    "checkmark.circle",
    "magnifyingglass",
    "xmark.circle.fill",
};
constexpr int kSymbolPixels = 16;

TEST(Studio, ApplicationGetsTheFusionStyleTheDarkPaletteAndTheBodyFont) {
    // main() applied the look to the application these tests run in.
    EXPECT_EQ(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    EXPECT_EQ(QApplication::font().pixelSize(), Studio::kBodyPixels);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(0x17, 0x18, 0x1B));

    struct Role {
        QPalette::ColorGroup group;
        QPalette::ColorRole role;
        QColor color;
    };
    const Role roles[] = {
        {QPalette::Active, QPalette::Base, Studio::background},
        {QPalette::Active, QPalette::AlternateBase, Studio::panel},
        {QPalette::Active, QPalette::Button, Studio::panel},
        {QPalette::Active, QPalette::WindowText, Studio::text},
        {QPalette::Inactive, QPalette::Text, Studio::text},
        {QPalette::Active, QPalette::ButtonText, Studio::text},
        {QPalette::Active, QPalette::PlaceholderText, Studio::secondary},
        {QPalette::Disabled, QPalette::Text, Studio::secondary},
        {QPalette::Disabled, QPalette::ButtonText, Studio::secondary},
        {QPalette::Active, QPalette::Highlight, Studio::coral},
        {QPalette::Active, QPalette::HighlightedText, Qt::black},
        {QPalette::Active, QPalette::ToolTipBase, Studio::panel},
        {QPalette::Active, QPalette::ToolTipText, Studio::text},
        {QPalette::Active, QPalette::Link, Studio::coral},
    };
    const QWidget widget;
    for (const Role& expected : roles) {
        SCOPED_TRACE(testing::Message() << "group " << expected.group << ", role " << expected.role);
        EXPECT_EQ(widget.palette().color(expected.group, expected.role), expected.color);
    }
}

TEST(Studio, DisabledMenuItemsAreDrawnInTheSecondaryColourWithoutAnEtchedCopy) {
    QMenu menu;
    QAction* enabled = menu.addAction(QStringLiteral("显示备份"));
    QAction* disabled = menu.addAction(QStringLiteral("重新定位原素材…"));
    disabled->setEnabled(false);
    menu.resize(menu.sizeHint());
    const QImage image = test::grabbed(menu);

    // The brightest ink of each item: a disabled one never outshines the secondary colour (an
    // etched copy in the palette's light colour would be whiter than the enabled items).
    const auto brightest = [&](QAction* action) {
        int lightest = 0;
        const QRect area = menu.actionGeometry(action).intersected(image.rect());
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                lightest = std::max(lightest, image.pixelColor(x, y).lightness());
        return lightest;
    };
    EXPECT_GE(brightest(enabled), Studio::text.lightness() - 8);
    EXPECT_LE(brightest(disabled), Studio::secondary.lightness() + 8);
    EXPECT_GE(brightest(disabled), Studio::secondary.lightness() - 24);
}

TEST(Studio, EverySymbolRendersInTheAskedColourAndSize) {
    for (const std::string_view name : kSymbolNames) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(Studio::hasSymbol(name));
        const QPixmap pixmap = Studio::symbol(name, kSymbolPixels, Studio::coral);
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), QSize(kSymbolPixels, kSymbolPixels));

        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        int inked = 0, transparent = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 0) ++transparent;
                if (pixel.alpha() < 128) continue;
                ++inked;
                EXPECT_LE(test::distance(pixel, Studio::coral), 3) << "at " << x << "," << y;
            }
        }
        EXPECT_GT(inked, 0);
        EXPECT_GT(transparent, 0) << "the symbol fills its whole square";
    }
}

TEST(Studio, UnknownSymbolsAreEmpty) {
    for (const std::string_view name : {std::string_view("no.such.symbol"), std::string_view(""),
                                        std::string_view("waveform.svg"), std::string_view("Clock")}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Studio::hasSymbol(name));
        EXPECT_TRUE(Studio::symbol(name, kSymbolPixels, Studio::text).isNull());
    }
}

}  // namespace
}  // namespace talvian
