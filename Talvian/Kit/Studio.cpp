#include "Studio.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QScreen>
#include <QStyleFactory>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

// Q_INIT_RESOURCE declares its function in the namespace it is used in, so the registration of
// the symbols compiled into this static library has to happen at global scope.
static void registerStudioSymbols() {
    Q_INIT_RESOURCE(Symbols);
}

namespace talvian::Studio {

namespace {

constexpr const char* kStyleName = "Fusion";
// Installed by setup.sh (fonts-noto-cjk); without it the system family and its fallbacks draw.
constexpr const char* kInterfaceFamily = "Noto Sans CJK SC";

void ensureSymbolsRegistered() {
    static const bool registered = (registerStudioSymbols(), true);
    (void)registered;
}

QString symbolPath(std::string_view name) {
    return QStringLiteral(":/symbols/") +
           QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) + QStringLiteral(".svg");
}

double primaryScreenRatio() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->devicePixelRatio() : 1.0;
}

bool digitsShareOneWidth(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero) return false;
    }
    return true;
}

}  // namespace

QColor withOpacity(const QColor& color, double opacity) {
    QColor result = color;
    result.setAlphaF(static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
    return result;
}

QFont font(int pixels, QFont::Weight weight) {
    QFont result = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // The interface is Chinese: a CJK family first draws every text in one face and spares the
    // search for a fallback family for each new text; the system's family stays behind it.
    result.setFamilies({QString::fromLatin1(kInterfaceFamily), result.family()});
    result.setPixelSize(pixels);
    result.setWeight(weight);
    return result;
}

QFont monospacedDigitFont(int pixels, QFont::Weight weight) {
    QFont result = font(pixels, weight);
    // Most interface fonts already draw digits of one width; a running clock must not jitter
    // when the one at hand does not, so the fixed-pitch system font takes over then.
    if (digitsShareOneWidth(result)) return result;
    result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPixelSize(pixels);
    result.setWeight(weight);
    return result;
}

void applyToApplication(QApplication& application) {
    ensureSymbolsRegistered();
    // The style first: setting it replaces the palette with the style's own.
    application.setStyle(QStyleFactory::create(QString::fromLatin1(kStyleName)));

    QPalette palette;
    const auto groups = {QPalette::Active, QPalette::Inactive, QPalette::Disabled};
    for (const QPalette::ColorGroup group : groups) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::AlternateBase, panel);
        palette.setColor(group, QPalette::Button, panel);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, text);
        palette.setColor(group, QPalette::PlaceholderText, secondary);
        palette.setColor(group, QPalette::Highlight, coral);
        palette.setColor(group, QPalette::HighlightedText, Qt::black);
        palette.setColor(group, QPalette::ToolTipBase, panel);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::Link, coral);
        palette.setColor(group, QPalette::LinkVisited, coral);
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, secondary);
    palette.setColor(QPalette::Disabled, QPalette::Text, secondary);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, secondary);
    // The style etches disabled menu items with a copy in the light colour, one pixel off: on a
    // dark surface that copy reads as a white shadow brighter than the enabled items.
    palette.setColor(QPalette::Disabled, QPalette::Light, Qt::transparent);
    application.setPalette(palette);
    application.setFont(font(kBodyPixels));
}

QPixmap symbol(std::string_view name, int pixels, const QColor& color) {
    ensureSymbolsRegistered();
    if (pixels <= 0 || !hasSymbol(name)) return {};
    // Controls draw their symbols on every paint: each picture is rendered from its SVG once.
    const double ratio = primaryScreenRatio();
    const QString key = QStringLiteral("talvian.symbol:%1:%2:%3:%4")
                            .arg(symbolPath(name))
                            .arg(pixels)
                            .arg(color.rgba(), 8, 16, QLatin1Char('0'))
                            .arg(ratio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;
    QSvgRenderer renderer(symbolPath(name));
    if (!renderer.isValid()) return {};

    const int side = static_cast<int>(std::ceil(pixels * ratio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        // The SVGs are drawn in black: keeping their coverage and replacing the colour tints them.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

bool hasSymbol(std::string_view name) {
    ensureSymbolsRegistered();
    if (name.empty()) return false;
    return QFile::exists(symbolPath(name));
}

}  // namespace talvian::Studio
