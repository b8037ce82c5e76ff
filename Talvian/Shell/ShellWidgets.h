#pragma once
// Small widgets the shell's views share: labels in the Studio fonts, filled surfaces, a title
// that elides in the middle, the rounded rows of the start screen and alerts. Main thread.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QWidget>

#include <string>
#include <string_view>

#include "Kit/StudioLabel.h"

class QHBoxLayout;
class QPushButton;

namespace talvian {

// A surface filled with one colour, square or with rounded corners: rules, the dimmer, cards.
class FilledShape : public QWidget {
    Q_OBJECT

  public:
    FilledShape(const QColor& color, double cornerRadius, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_;
    double cornerRadius_;
};

// One line of text that elides in the middle when it does not fit.
class ElidedLabel : public QWidget {
    Q_OBJECT

  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    // The text as drawn in the current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
};

// A button whose label is a row of child widgets on a rounded Studio::panel rectangle.
class PanelRowButton : public QAbstractButton {
    Q_OBJECT

  public:
    // `padding` on every side of the row; the corner radius is 10.
    PanelRowButton(int padding, QWidget* parent = nullptr);
    // The row the caller fills; children ignore the pointer so the button gets the clicks.
    QHBoxLayout& row() { return *row_; }
    // Call after filling the row.
    void finishRow();
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QHBoxLayout* row_;
};

// A tooltip that shows `text` literally: Qt draws a tooltip that looks like HTML as HTML, and a
// file name may look like HTML (and name a local image).
QString plainToolTip(const QString& text);

// An alert: `text` as plain text under `title`, no icon and no button yet.
QMessageBox* makeAlert(const std::string& title, const QString& text, QWidget* parent);
// A button of an alert. Never a default button: Return does not answer an alert by chance.
QPushButton* addAlertButton(QMessageBox& alert, const std::string& text, QMessageBox::ButtonRole role);

}  // namespace talvian
