#pragma once
// The shared controls of the window, painted in the Studio look. None of them reads or changes
// the controller. Buttons and toggles take focus only from the keyboard (Tab), never from a
// click, so the space bar keeps playing; fields accept no drops, so a file dropped on them
// reaches the window. Main thread.

#include <QAbstractButton>
#include <QFrame>
#include <QLineEdit>
#include <QScrollArea>
#include <QWidget>

#include <optional>
#include <string>
#include <string_view>

namespace talvian {

// A push button: medium 13 px text, 10 px rounded fill. Primary: coral fill, black text, 24 px
// side padding; secondary: white at 0.065 (0.14 pressed), Studio::text label, 12 px padding.
// Disabled: the secondary look with the label at 0.4; pressed: the whole button at 0.8.
// With a symbol and no text it is an icon button (the tooltip names it); with both, the label
// is the symbol at 12 px, 6 px before the text, centred together.
class StudioButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit StudioButton(const QString& text, bool primary = false, QWidget* parent = nullptr);
    // An icon button showing the symbol (Studio::symbol) at 15 px.
    static StudioButton* iconButton(std::string_view symbol, const QString& toolTip,
                                    QWidget* parent = nullptr);
    // Swaps the symbol of an icon button (play and pause share one place), or puts one before
    // the text of a labelled button.
    void setSymbol(std::string_view symbol);
    const QString& symbol() const { return symbol_; }

    bool primary() const { return primary_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool primary_ = false;
    QString symbol_;
};

// Makes `button` one of a few choices (a segment, a preset, a mode): checkable, checked while
// it is the chosen one. Its owner sets the checked state from the controller, so the button
// must not flip itself on a click (override nextCheckState()). Screen readers meet a radio
// button named by its text (or its accessible name), pressed like a click.
void makeStudioChoice(QAbstractButton& button);
// Makes `button`, which opens a menu, read as a menu button named by its text to screen readers.
void makeStudioMenuButton(QAbstractButton& button);
// Gives `button` a value that screen readers read after its name (what it has done, say).
void setStudioAccessibleValue(QAbstractButton& button, const QString& value);

// A text link: a flat button underlined in its own colour (Studio::secondary or Studio::coral);
// without the underline, the plain button of rows and headings. Pointing hand cursor.
class StudioLink : public QAbstractButton {
    Q_OBJECT

  public:
    StudioLink(const QString& text, const QColor& color, QWidget* parent = nullptr, bool underlined = true);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_;
    bool underlined_;
};

// The frame of every panel: Studio::panel in a 12 px rounded rectangle, a 1 px border of white
// at 0.12 inside its edge, and a soft shadow (black 0.35, blur 26, 12 px down).
class StudioCard : public QFrame {
    Q_OBJECT

  public:
    explicit StudioCard(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A checkable toggle: a 30 × 18 switch (white 0.28 on / 0.1 off, 14 px knob at the trailing
// or leading end) or a checkbox symbol at 16 px ("checkmark.square.fill" in Studio::text on,
// "square" in Studio::secondary off), then its label 8 px away. Click or Space flips it. Screen
// readers meet a check box whose checked state is the toggle's and whose value reads "已开启" or
// "已关闭".
class StudioToggle : public QAbstractButton {
    Q_OBJECT

  public:
    StudioToggle(const QString& text, bool checkbox, QWidget* parent = nullptr);
    bool checkbox() const { return checkbox_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void announceState();
    bool checkbox_ = false;
};

// A 4 px progress bar: a track of white 0.1 and a Studio::wave fill of `fraction` of the width;
// without a fraction (indeterminate) a still fill of 0.3.
class StudioProgress : public QWidget {
    Q_OBJECT

  public:
    explicit StudioProgress(QWidget* parent = nullptr);
    // Clamped to 0…1; nullopt: indeterminate.
    void setFraction(std::optional<double> fraction);
    const std::optional<double>& fraction() const { return fraction_; }
    // The filled width for a bar `width` wide.
    static double fillWidth(std::optional<double> fraction, double width);
    QSize sizeHint() const override { return {120, 4}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<double> fraction_;
};

// A single-line field with the placeholder `title` (already localised); accepts no drops.
class StudioField : public QLineEdit {
    Q_OBJECT

  public:
    explicit StudioField(const QString& title, QWidget* parent = nullptr);
};

// A 22 px horizontal slider over lower…upper. A press anywhere on the strip, and every move
// while pressed, sets lower + clamp(x / max(width, 1), 0, 1) × (upper − lower); Left and Right
// (also repeated) step by a hundredth of the range, clamped. It takes keyboard focus. The value
// may lie outside the range (drawn at the nearer end) until the user moves it.
class StudioSlider : public QWidget {
    Q_OBJECT

  public:
    StudioSlider(double lower, double upper, QWidget* parent = nullptr);
    double value() const { return value_; }
    // Sets the value as given (not clamped) without emitting valueEdited.
    void setValue(double value);
    double lower() const { return lower_; }
    double upper() const { return upper_; }
    // (v − lower) / (upper − lower) clamped to 0…1; not a number counts as 0.
    static double fraction(double value, double lower, double upper);
    // The value for a pointer at x in a slider `width` wide.
    static double valueAt(double x, double width, double lower, double upper);
    // One arrow step (+1 right, −1 left) from `value`, clamped to the range.
    static double stepped(double value, int direction, double lower, double upper);
    QSize sizeHint() const override { return {160, kHeight}; }

    static constexpr int kHeight = 22;

  signals:
    // The user moved the value (pointer or keys).
    void valueEdited(double value);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // Assistive technology sets the value as the user's own edit.
    friend class StudioSliderAccessible;
    void edit(double value);
    double value_ = 0;
    double lower_ = 0;
    double upper_ = 1;
};

// A vertical scroll container with visible indicators, transparent and without focus.
class StudioScroll : public QScrollArea {
    Q_OBJECT

  public:
    explicit StudioScroll(QWidget* content, QWidget* parent = nullptr);
};

}  // namespace talvian
