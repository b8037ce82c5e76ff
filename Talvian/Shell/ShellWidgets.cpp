#include "ShellWidgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTextDocument>

#include "Kit/Studio.h"

namespace talvian {

namespace {

constexpr double kRowCornerRadius = 10;

}  // namespace

// ---- FilledShape

FilledShape::FilledShape(const QColor& color, double cornerRadius, QWidget* parent)
    : QWidget(parent), color_(color), cornerRadius_(cornerRadius) {}

void FilledShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (cornerRadius_ <= 0) return painter.fillRect(rect(), color_);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.fillPath(shape, color_);
}

// ---- ElidedLabel

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    updateGeometry();
    update();
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text_, Qt::ElideMiddle, width());
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text_) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shownText());
}

// ---- PanelRowButton

PanelRowButton::PanelRowButton(int padding, QWidget* parent)
    : QAbstractButton(parent), row_(new QHBoxLayout(this)) {
    row_->setContentsMargins(padding, padding, padding, padding);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PanelRowButton::finishRow() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize PanelRowButton::sizeHint() const {
    return row_->sizeHint();
}

void PanelRowButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? Studio::kPressedOpacity : 1.0);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kRowCornerRadius, kRowCornerRadius);
    painter.fillPath(shape, Studio::panel);
    if (hasFocus()) {
        painter.setPen(QPen(Studio::coral, 1));
        painter.drawPath(shape);
    }
}

QString plainToolTip(const QString& text) {
    // Escaped into a paragraph of its own, the text is rich text Qt shows as it is, on one line.
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

QMessageBox* makeAlert(const std::string& title, const QString& text, QWidget* parent) {
    auto* alert = new QMessageBox(QMessageBox::NoIcon, QString::fromStdString(title), text,
                                  QMessageBox::NoButton, parent);
    alert->setTextFormat(Qt::PlainText);
    return alert;
}

QPushButton* addAlertButton(QMessageBox& alert, const std::string& text, QMessageBox::ButtonRole role) {
    QPushButton* button = alert.addButton(QString::fromStdString(text), role);
    button->setAutoDefault(false);
    return button;
}

}  // namespace talvian
