#pragma once
// The names the window must show as they are, on one line and in their own order, wherever it
// shows a file name or a path.

#include <QString>

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
    {"plain", "口播 take1.wav", "口播 take1.wav"},
};

// A name or path as the window shows it: between U+2068 FIRST STRONG ISOLATE and U+2069 POP
// DIRECTIONAL ISOLATE.
inline QString isolated(const std::string& shown) {
    return QString::fromStdString("\u2068" + shown + "\u2069");
}

}  // namespace talvian::test
