#pragma once
// The look of the one dark window: six colours, the application-wide style and palette, the
// fonts, and the symbol icons. Main thread (the palette constants themselves are plain values).

#include <QColor>
#include <QFont>
#include <QPixmap>

#include <string_view>

class QApplication;

namespace talvian::Studio {

// The palette, sRGB, opaque.
inline const QColor background{23, 24, 27};    // #17181B window background
inline const QColor panel{32, 34, 38};         // #202226 cards, panels, unselected rows
inline const QColor text{242, 242, 240};       // #F2F2F0 default foreground
inline const QColor secondary{154, 156, 163};  // #9A9CA3 secondary texts
inline const QColor coral{255, 122, 102};      // #FF7A66 accent, selections, warnings
inline const QColor wave{201, 203, 209};       // #C9CBD1 waveform, slider and progress fills

// What a disabled control's ink and a pressed control as a whole are drawn at.
constexpr double kDisabledOpacity = 0.4;
constexpr double kPressedOpacity = 0.8;

// `color` at `opacity` (0…1).
QColor withOpacity(const QColor& color, double opacity);

// The body font (13 px) every view inherits.
constexpr int kBodyPixels = 13;
// The system font at `pixels` logical pixels and `weight`.
QFont font(int pixels, QFont::Weight weight = QFont::Normal);
// The same with digits of equal width (durations, clocks).
QFont monospacedDigitFont(int pixels, QFont::Weight weight = QFont::Normal);

// Sets the Fusion style, the dark palette and the body font on the whole application, so that
// popups, dialogs and menus get them too.
void applyToApplication(QApplication& application);

// One of our symbol SVGs ("waveform", "clock", "chevron.right" …) drawn at `pixels` in `color`;
// an unknown name gives an empty pixmap. Device pixel ratio of the primary screen.
QPixmap symbol(std::string_view name, int pixels, const QColor& color);
// True when a symbol SVG of that name is among the resources.
bool hasSymbol(std::string_view name);

}  // namespace talvian::Studio
