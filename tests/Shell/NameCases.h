#pragma once
// The names the window must show as they are, on one line and in their own order, wherever it
// shows a file name or a path.

#include <QString>
#include <QTextDocument>

#include <string>

namespace talvian::test {

struct Name {
    const char* label;
    std::string file;   // as it is on disk
    std::string shown;  // as the window draws it, between the isolate marks
};

inline const Name kNames[] = {
    {"right-to-left override", "invoice\u202Evaw.exe.wav", "invoice\uFFFDvaw.exe.wav"},
    {"isolates", "a\u2066b\u2067c\u2068d\u2069.wav", "a\uFFFDb\uFFFDc\uFFFDd\uFFFD.wav"},
    {"newline", "第一行\n第二行.wav", "第一行\uFFFD第二行.wav"},
    {"tab", "口播\t定稿.wav", "口播\uFFFD定稿.wav"},
    {"emoji with a skin-tone modifier", "\U0001F44B\U0001F3FD 讲话.wav", "\U0001F44B\U0001F3FD 讲话.wav"},
    {"markup and ampersands", "<img src=x.png><b>a&b&&c.wav", "<img src=x.png><b>a&b&&c.wav"},
    {"plain", "口播 take1.wav", "口播 take1.wav"},
};

// A name or path as the window shows it: between U+2068 FIRST STRONG ISOLATE and U+2069 POP
// DIRECTIONAL ISOLATE.
inline QString isolated(const std::string& shown) {
    return QString::fromStdString("\u2068" + shown + "\u2069");
}

// A tooltip as Qt draws it: rich text when it looks like it, so it is read back through a document.
inline QString shownToolTip(const QString& toolTip) {
    if (!Qt::mightBeRichText(toolTip)) return toolTip;
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

// A menu item's text as drawn: "&&" is one "&", a lone "&" marks the next letter and is not drawn.
inline QString shownMenuText(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && ++i == text.size()) break;
        shown += text[i];
    }
    return shown;
}

}  // namespace talvian::test
