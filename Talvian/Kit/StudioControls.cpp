#include "StudioControls.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "AccessibleFactory.h"
#include "Model/Localization.h"
#include "Studio.h"

namespace talvian {

namespace {

constexpr int kFocusRingWidth = 1;

constexpr int kButtonTextPixels = 13;
constexpr int kPrimaryHorizontalPadding = 24;
constexpr int kSecondaryHorizontalPadding = 12;
constexpr int kButtonVerticalPadding = 9;
constexpr qreal kButtonRadius = 10;
constexpr double kButtonFillAtRest = 0.065;
constexpr double kButtonFillPressed = 0.14;
constexpr int kButtonSymbolPixels = 15;
// A symbol beside a text is drawn a little under the text's size, as it sits between its lines.
constexpr int kLabelSymbolPixels = 12;
constexpr int kLabelSymbolSpacing = 6;

constexpr qreal kCardRadius = 12;
constexpr int kCardBorderWidth = 1;
constexpr double kCardBorderOpacity = 0.12;
constexpr double kCardShadowOpacity = 0.35;
constexpr qreal kCardShadowBlur = 26;
constexpr qreal kCardShadowDrop = 12;

constexpr int kCheckboxPixels = 16;
constexpr int kSwitchWidth = 30;
constexpr int kSwitchHeight = 18;
constexpr int kSwitchKnob = 14;
constexpr int kSwitchInset = 2;
constexpr double kSwitchOnOpacity = 0.28;
constexpr double kSwitchOffOpacity = 0.1;
constexpr int kToggleSpacing = 8;

constexpr int kProgressHeight = 4;
constexpr double kProgressTrackOpacity = 0.1;
// An indeterminate job shows a still partial fill: no animation keeps the window quiet.
constexpr double kIndeterminateFraction = 0.3;

constexpr int kSliderTrackHeight = 4;
constexpr int kSliderKnob = 12;
constexpr double kSliderTrackOpacity = 0.15;
constexpr double kSliderStepsPerRange = 100;
constexpr int kSliderValueDecimals = 2;

// `value` within lower…upper; not a number counts as lower.
double clampedTo(double value, double lower, double upper) {
    if (std::isnan(value)) return lower;
    return std::max(lower, std::min(value, upper));
}

void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& color) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const qreal radius = std::min(rect.width(), rect.height()) / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(rect, radius, radius);
}

// The keyboard focus mark: a 1 px coral line just inside `rect`.
void drawFocusRing(QPainter& painter, const QRectF& rect, qreal radius) {
    const qreal half = kFocusRingWidth / 2.0;
    painter.setPen(QPen(Studio::coral, kFocusRingWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(half, half, -half, -half), radius - half, radius - half);
}

QString sliderValueText(double value) {
    // QString::number always writes a point, whatever the user's locale.
    return QString::number(value, 'f', kSliderValueDecimals);
}

}  // namespace

// Screen readers get the slider's value and may set it like the user would.
class StudioSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit StudioSliderAccessible(StudioSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return sliderValueText(slider()->value());
        return QAccessibleWidget::text(kind);
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return slider()->value(); }
    void setCurrentValue(const QVariant& value) override {
        StudioSlider* target = slider();
        target->edit(clampedTo(value.toDouble(), target->lower(), target->upper()));
    }
    QVariant maximumValue() const override { return slider()->upper(); }
    QVariant minimumValue() const override { return slider()->lower(); }
    QVariant minimumStepSize() const override {
        return (slider()->upper() - slider()->lower()) / kSliderStepsPerRange;
    }

  private:
    StudioSlider* slider() const { return static_cast<StudioSlider*>(widget()); }
};

// A toggle reads as a check box: its on/off is the checked state, its value says "已开启" or
// "已关闭", and its action flips it like a click.
class StudioToggleAccessible : public QAccessibleWidget {
  public:
    explicit StudioToggleAccessible(StudioToggle* toggle)
        : QAccessibleWidget(toggle, QAccessible::CheckBox) {}

    QString text(QAccessible::Text kind) const override {
        const QString own = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && own.isEmpty()) return toggle()->text();
        if (kind == QAccessible::Value)
            return QString::fromStdString(toggle()->isChecked() ? L("已开启") : L("已关闭"));
        return own;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = toggle()->isChecked();
        state.pressed = toggle()->isDown();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (toggle()->isEnabled()) names << toggleAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == toggleAction() || name == pressAction()) {
            if (toggle()->isEnabled()) toggle()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

  private:
    StudioToggle* toggle() const { return static_cast<StudioToggle*>(widget()); }
};

namespace {

// Tells screen readers that `object`'s checked state changed.
void announceCheckedChange(QObject* object) {
    if (!QAccessible::isActive()) return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(object, changed);
    QAccessible::updateAccessibility(&event);
}

// Tells screen readers that `object`'s value is now `value`.
void announceValue(QObject* object, const QString& value) {
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(object, value);
    QAccessible::updateAccessibility(&event);
}

// The property that gives a button its reading for screen readers (a choice, a menu button).
constexpr char kAccessibleRoleProperty[] = "talvianAccessibleRole";
// The property holding a button's value for screen readers.
constexpr char kAccessibleValueProperty[] = "talvianAccessibleValue";

// A button read as a choice among a few (a radio button whose checked state is the button's),
// as a button that opens a menu, or as a button with a value; named by its text unless it has
// a name of its own, and pressed like a click.
class StudioButtonRoleAccessible : public QAccessibleWidget {
  public:
    StudioButtonRoleAccessible(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role) {}

    // Asked with the most derived class first: the property decides whatever the class.
    static QAccessibleInterface* create(const QString&, QObject* object) {
        auto* button = qobject_cast<QAbstractButton*>(object);
        if (button == nullptr) return nullptr;
        const QVariant role = button->property(kAccessibleRoleProperty);
        if (!role.isValid()) return nullptr;
        return new StudioButtonRoleAccessible(button, static_cast<QAccessible::Role>(role.toInt()));
    }
    // Gives `button` the reading `role`. Its own constructor may already have made Qt's reading
    // (setting a text announces it), which is then replaced.
    static void adopt(QAbstractButton& button, QAccessible::Role role) {
        static const bool installed = (QAccessible::installFactory(&create), true);
        (void)installed;
        button.setProperty(kAccessibleRoleProperty, static_cast<int>(role));
        QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&button);
        if (made != nullptr && dynamic_cast<StudioButtonRoleAccessible*>(made) == nullptr)
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }

    QString text(QAccessible::Text kind) const override {
        const QString own = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && own.isEmpty()) return button()->text();
        if (kind == QAccessible::Value) return button()->property(kAccessibleValueProperty).toString();
        return own;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = button()->isDown();
        if (role() == QAccessible::RadioButton) {
            state.checkable = true;
            state.checked = button()->isChecked();
        }
        if (role() == QAccessible::ButtonMenu) state.hasPopup = true;
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (button()->isEnabled()) names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name != pressAction()) return QAccessibleWidget::doAction(name);
        if (button()->isEnabled()) button()->click();
    }

  private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

}  // namespace

StudioButton::StudioButton(const QString& text, bool primary, QWidget* parent)
    : QAbstractButton(parent), primary_(primary) {
    setText(text);
    setFont(Studio::font(kButtonTextPixels, QFont::Medium));
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
}

StudioButton* StudioButton::iconButton(std::string_view symbol, const QString& toolTip, QWidget* parent) {
    auto* button = new StudioButton(QString(), false, parent);
    button->symbol_ = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size()));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    return button;
}

void StudioButton::setSymbol(std::string_view symbol) {
    const QString name = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size()));
    if (name == symbol_) return;
    symbol_ = name;
    // An icon keeps its size whatever its symbol (play and pause swap during playback); only a
    // symbol beside a text changes the width.
    if (!text().isEmpty()) updateGeometry();
    update();
}

QSize StudioButton::sizeHint() const {
    if (!symbol_.isEmpty() && text().isEmpty()) {
        return {kButtonSymbolPixels + 2 * kSecondaryHorizontalPadding,
                kButtonSymbolPixels + 2 * kButtonVerticalPadding};
    }
    const QFontMetrics metrics(font());
    const int padding = primary_ ? kPrimaryHorizontalPadding : kSecondaryHorizontalPadding;
    const int symbol = symbol_.isEmpty() ? 0 : kLabelSymbolPixels + kLabelSymbolSpacing;
    return {symbol + metrics.horizontalAdvance(text()) + 2 * padding,
            metrics.height() + 2 * kButtonVerticalPadding};
}

void StudioButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool pressed = isDown();
    const bool filled = primary_ && isEnabled();
    if (pressed) painter.setOpacity(Studio::kPressedOpacity);

    const QColor fill =
        filled ? Studio::coral
               : Studio::withOpacity(Qt::white, pressed ? kButtonFillPressed : kButtonFillAtRest);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), kButtonRadius, kButtonRadius);

    const QColor foreground =
        filled ? QColor(Qt::black)
               : Studio::withOpacity(Studio::text, isEnabled() ? 1.0 : Studio::kDisabledOpacity);
    if (!symbol_.isEmpty() && text().isEmpty()) {
        const QPixmap pixmap = Studio::symbol(symbol_.toStdString(), kButtonSymbolPixels, foreground);
        const QSizeF size = pixmap.deviceIndependentSize();
        painter.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), pixmap);
    } else if (!symbol_.isEmpty()) {
        // Symbol and text centred as one label; a narrow button cuts the text, not the symbol.
        const QPixmap pixmap = Studio::symbol(symbol_.toStdString(), kLabelSymbolPixels, foreground);
        const QSizeF size = pixmap.deviceIndependentSize();
        const double textWidth = QFontMetrics(font()).horizontalAdvance(text());
        const double labelWidth = size.width() + kLabelSymbolSpacing + textWidth;
        const double left = std::max(0.0, (width() - labelWidth) / 2);
        painter.drawPixmap(QPointF(left, (height() - size.height()) / 2), pixmap);
        const QRectF textArea(left + size.width() + kLabelSymbolSpacing, 0,
                              width() - left - size.width() - kLabelSymbolSpacing, height());
        painter.setPen(foreground);
        painter.setFont(font());
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    } else {
        painter.setPen(foreground);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }

    if (hasFocus()) {
        painter.setOpacity(1);
        drawFocusRing(painter, QRectF(rect()), kButtonRadius);
    }
}

StudioLink::StudioLink(const QString& text, const QColor& color, QWidget* parent, bool underlined)
    : QAbstractButton(parent), color_(color), underlined_(underlined) {
    setText(text);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize StudioLink::sizeHint() const {
    const QFontMetrics metrics(font());
    // One pixel each side leaves room for the focus ring.
    return {metrics.horizontalAdvance(text()) + 2 * kFocusRingWidth, metrics.height() + 2 * kFocusRingWidth};
}

void StudioLink::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont shown = font();
    shown.setUnderline(underlined_);
    painter.setFont(shown);
    painter.setPen(isEnabled() ? color_
                               : Studio::withOpacity(color_, color_.alphaF() * Studio::kDisabledOpacity));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    if (hasFocus()) drawFocusRing(painter, QRectF(rect()), kFocusRingWidth);
}

StudioCard::StudioCard(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(Studio::withOpacity(Qt::black, kCardShadowOpacity));
    shadow->setBlurRadius(kCardShadowBlur);
    shadow->setOffset(0, kCardShadowDrop);
    setGraphicsEffect(shadow);
}

void StudioCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(Studio::panel);
    painter.drawRoundedRect(bounds, kCardRadius, kCardRadius);

    // Stroked half a line inside the edge, so the whole border lies within the card.
    const qreal half = kCardBorderWidth / 2.0;
    painter.setPen(QPen(Studio::withOpacity(Qt::white, kCardBorderOpacity), kCardBorderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(half, half, -half, -half), kCardRadius - half,
                            kCardRadius - half);
}

StudioToggle::StudioToggle(const QString& text, bool checkbox, QWidget* parent)
    : QAbstractButton(parent), checkbox_(checkbox) {
    installAccessibleFactory<StudioToggleAccessible, StudioToggle>();
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::toggled, this, &StudioToggle::announceState);
}

void StudioToggle::announceState() {
    announceCheckedChange(this);
    announceValue(this, QString::fromStdString(isChecked() ? L("已开启") : L("已关闭")));
}

QSize StudioToggle::sizeHint() const {
    const QSize indicator =
        checkbox_ ? QSize(kCheckboxPixels, kCheckboxPixels) : QSize(kSwitchWidth, kSwitchHeight);
    const QFontMetrics metrics(font());
    if (text().isEmpty()) return indicator;
    const int label = kToggleSpacing + metrics.horizontalAdvance(text());
    return {indicator.width() + label, std::max(indicator.height(), metrics.height())};
}

void StudioToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(Studio::kDisabledOpacity);
    const bool on = isChecked();

    QRectF indicator;
    if (checkbox_) {
        // Whole pixels keep the symbol's edges crisp.
        indicator = QRectF(0, (height() - kCheckboxPixels) / 2, kCheckboxPixels, kCheckboxPixels);
        const QPixmap mark = Studio::symbol(on ? "checkmark.square.fill" : "square", kCheckboxPixels,
                                            on ? Studio::text : Studio::secondary);
        painter.drawPixmap(indicator.topLeft(), mark);
    } else {
        indicator = QRectF(0, (height() - kSwitchHeight) / 2, kSwitchWidth, kSwitchHeight);
        fillCapsule(painter, indicator,
                    Studio::withOpacity(Qt::white, on ? kSwitchOnOpacity : kSwitchOffOpacity));
        const qreal knobX =
            on ? indicator.right() - kSwitchInset - kSwitchKnob : indicator.left() + kSwitchInset;
        painter.setBrush(Studio::text);
        painter.drawEllipse(QRectF(knobX, indicator.top() + kSwitchInset, kSwitchKnob, kSwitchKnob));
    }

    if (!text().isEmpty()) {
        const QRectF label(indicator.right() + kToggleSpacing, 0,
                           width() - indicator.right() - kToggleSpacing, height());
        painter.setPen(Studio::text);
        painter.setFont(font());
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }

    if (hasFocus()) {
        const qreal ring = kFocusRingWidth + 1;
        drawFocusRing(painter, indicator.adjusted(-ring, -ring, ring, ring),
                      checkbox_ ? ring + 3 : indicator.height() / 2 + ring);
    }
}

StudioProgress::StudioProgress(QWidget* parent) : QWidget(parent) {
    setFixedHeight(kProgressHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StudioProgress::setFraction(std::optional<double> fraction) {
    if (fraction) fraction = clampedTo(*fraction, 0, 1);
    if (fraction == fraction_) return;
    fraction_ = fraction;
    update();
}

double StudioProgress::fillWidth(std::optional<double> fraction, double width) {
    return (fraction ? clampedTo(*fraction, 0, 1) : kIndeterminateFraction) * width;
}

void StudioProgress::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(0, (height() - kProgressHeight) / 2.0, width(), kProgressHeight);
    fillCapsule(painter, track, Studio::withOpacity(Qt::white, kProgressTrackOpacity));
    fillCapsule(painter, QRectF(track.topLeft(), QSizeF(fillWidth(fraction_, width()), kProgressHeight)),
                Studio::wave);
}

StudioField::StudioField(const QString& title, QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(title);
    setAccessibleName(title);
    // A file dropped on the field belongs to the window, which opens it.
    setAcceptDrops(false);
    setFrame(true);
}

StudioSlider::StudioSlider(double lower, double upper, QWidget* parent)
    : QWidget(parent), value_(lower), lower_(lower), upper_(upper) {
    installAccessibleFactory<StudioSliderAccessible, StudioSlider>();
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

void StudioSlider::setValue(double value) {
    if (value == value_) return;
    value_ = value;
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent change(this, value_);
        QAccessible::updateAccessibility(&change);
    }
}

double StudioSlider::fraction(double value, double lower, double upper) {
    return clampedTo((value - lower) / (upper - lower), 0, 1);
}

double StudioSlider::valueAt(double x, double width, double lower, double upper) {
    return lower + clampedTo(x / std::max(width, 1.0), 0, 1) * (upper - lower);
}

double StudioSlider::stepped(double value, int direction, double lower, double upper) {
    const double step = (upper - lower) / kSliderStepsPerRange;
    const double low = std::min(lower, upper);
    const double high = std::max(lower, upper);
    const double from = std::isnan(value) ? lower : value;
    return clampedTo(from + direction * step, low, high);
}

void StudioSlider::edit(double value) {
    setValue(value);
    emit valueEdited(value_);
}

void StudioSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double f = fraction(value_, lower_, upper_);
    const double w = width();
    const double top = (height() - kSliderTrackHeight) / 2.0;
    fillCapsule(painter, QRectF(0, top, w, kSliderTrackHeight),
                Studio::withOpacity(Qt::white, kSliderTrackOpacity));
    fillCapsule(painter, QRectF(0, top, f * w, kSliderTrackHeight), Studio::wave);

    const QRectF knob(std::max(f * (w - kSliderKnob), 0.0), (height() - kSliderKnob) / 2.0, kSliderKnob,
                      kSliderKnob);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Studio::text);
    painter.drawEllipse(knob);
    if (hasFocus()) {
        const qreal ring = kFocusRingWidth + 1;
        drawFocusRing(painter, knob.adjusted(-ring, -ring, ring, ring), knob.width() / 2 + ring);
    }
}

void StudioSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    edit(valueAt(event->position().x(), width(), lower_, upper_));
    event->accept();
}

void StudioSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    edit(valueAt(event->position().x(), width(), lower_, upper_));
    event->accept();
}

void StudioSlider::keyPressEvent(QKeyEvent* event) {
    int direction = 0;
    if (event->key() == Qt::Key_Right) direction = 1;
    if (event->key() == Qt::Key_Left) direction = -1;
    if (direction == 0) {
        // Space, Return and the rest belong to the window (playback, shortcuts).
        event->ignore();
        return;
    }
    edit(stepped(value_, direction, lower_, upper_));
    event->accept();
}

StudioScroll::StudioScroll(QWidget* content, QWidget* parent) : QScrollArea(parent) {
    setWidget(content);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    // The window and the cards behind show through; QScrollArea would paint its base colour.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    if (content != nullptr) content->setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
}

void makeStudioChoice(QAbstractButton& button) {
    button.setCheckable(true);
    StudioButtonRoleAccessible::adopt(button, QAccessible::RadioButton);
    QObject::connect(&button, &QAbstractButton::toggled, &button,
                     [&button] { announceCheckedChange(&button); });
}

void setStudioAccessibleValue(QAbstractButton& button, const QString& value) {
    if (!button.property(kAccessibleRoleProperty).isValid())
        StudioButtonRoleAccessible::adopt(button, QAccessible::Button);
    if (button.property(kAccessibleValueProperty).toString() == value) return;
    button.setProperty(kAccessibleValueProperty, value);
    announceValue(&button, value);
}

void makeStudioMenuButton(QAbstractButton& button) {
    StudioButtonRoleAccessible::adopt(button, QAccessible::ButtonMenu);
}

}  // namespace talvian
