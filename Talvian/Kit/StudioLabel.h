#pragma once
// Labels in the Studio look, shared by every view: a text in a Studio font and colour, and a
// Studio symbol. Main thread.

#include <QColor>
#include <QFont>
#include <QLabel>

#include <string>
#include <string_view>

namespace talvian {

// A label with the text (verbatim, plain), the font and colour given; dimmed when disabled. It
// keeps its colour also inside a list's viewport, whose text role would take over otherwise.
QLabel* makeLabel(const std::string& text, int pixels, QFont::Weight weight, const QColor& color,
                  QWidget* parent = nullptr);
// A label showing one of the Studio symbols.
QLabel* makeSymbol(std::string_view name, int pixels, const QColor& color, QWidget* parent = nullptr);

}  // namespace talvian
