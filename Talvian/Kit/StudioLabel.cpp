#include "StudioLabel.h"

#include "Studio.h"

namespace talvian {

QLabel* makeLabel(const std::string& text, int pixels, QFont::Weight weight, const QColor& color,
                  QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setFont(Studio::font(pixels, weight));
    label->setForegroundRole(QPalette::WindowText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     Studio::withOpacity(color, Studio::kDisabledOpacity));
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* makeSymbol(std::string_view name, int pixels, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Studio::symbol(name, pixels, color));
    label->setFixedSize(pixels, pixels);
    return label;
}

}  // namespace talvian
