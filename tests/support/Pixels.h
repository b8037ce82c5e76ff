#pragma once
// Reading what the controls really paint: grabs in logical pixels and the colours a translucent
// fill makes over the window background.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

#include "Kit/Studio.h"

namespace talvian::test {

// `top` at `opacity` composited over the opaque `below`.
inline QColor over(const QColor& top, double opacity, const QColor& below = Studio::background) {
    auto channel = [opacity](int a, int b) {
        return static_cast<int>(std::lround(a * opacity + b * (1 - opacity)));
    };
    return {channel(top.red(), below.red()), channel(top.green(), below.green()),
            channel(top.blue(), below.blue())};
}

inline int distance(const QColor& a, const QColor& b) {
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// What the widget paints, one image pixel per logical pixel.
inline QImage grabbed(QWidget& widget) {
    QImage image = widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    image.setDevicePixelRatio(1);
    return image.scaled(widget.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

inline QColor at(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// A plain window of the background colour to put a control on, so translucent fills have a
// known colour below them.
class Host : public QWidget {
  public:
    Host() {
        setAutoFillBackground(true);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, Studio::background);
        setPalette(palette);
    }
    // Puts `control` at the top left at its preferred size and fits the host to it.
    void hold(QWidget& control) {
        control.setParent(this);
        control.move(0, 0);
        control.resize(control.sizeHint());
        resize(control.size());
    }
};

}  // namespace talvian::test

QT_BEGIN_NAMESPACE
inline void PrintTo(const QColor& color, std::ostream* out) {
    *out << color.name(QColor::HexArgb).toStdString();
}
QT_END_NAMESPACE
