#include "DeveloperHooks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <map>
#include <memory>
#include <tuple>

#include "FirstPaintReport.h"
#include "Views/WaveformBoundaryHandle.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kIdlePollMilliseconds = 250;
// Idle must hold this long, so that the last repaint has reached the screen.
constexpr int kSettleMilliseconds = 800;
// The shot is taken anyway after this long (the script's own limit is 45 s).
constexpr int kGiveUpMilliseconds = 38000;

// Opens the menu bar's menu of that title; further titles after "/" open its submenus.
void openMenu(QMainWindow& window, const QString& path) {
    const QStringList titles = path.split(QLatin1Char('/'));
    // Without a window manager nothing activates the window by itself.
    window.activateWindow();
    QWidget* level = window.menuBar();
    for (const QString& title : titles) {
        QAction* found = nullptr;
        for (QAction* action : level->actions())
            if (action->isVisible() && action->text() == title) found = action;
        if (!found || !found->menu()) {
            std::fprintf(stderr, "screenshot: no menu %s\n", qPrintable(title));
            return;
        }
        if (auto* bar = qobject_cast<QMenuBar*>(level)) {
            bar->setActiveAction(found);
        } else {
            auto* menu = static_cast<QMenu*>(level);
            menu->setActiveAction(found);
            QKeyEvent open(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
            QApplication::sendEvent(menu, &open);
        }
        level = found->menu();
    }
}

// Triggers the menu bar's item of that text, wherever it stands.
void triggerAction(QMainWindow& window, const QString& text) {
    window.activateWindow();
    for (auto* menu : window.menuBar()->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (action->isVisible() && action->text() == text) {
                action->trigger();
                return;
            }
        }
    }
    std::fprintf(stderr, "screenshot: no menu item %s\n", qPrintable(text));
}

// One step of TALVIAN_SCREENSHOT_KEYS: a key name ("Down", "Space" …), one character ("+",
// "f"), "grip", which gives the keyboard focus to the start grip of the reviewed pause,
// "click:<text>", which clicks the shown, enabled button of that text or accessible name, or
// "menu:<title>[/<submenu>…]", which opens a menu of the menu bar, or "action:<text>", which
// triggers that item of the menu bar.
void pressKey(QMainWindow& window, const QString& token) {
    if (token.startsWith(QLatin1String("menu:"))) return openMenu(window, token.mid(5));
    if (token.startsWith(QLatin1String("action:"))) return triggerAction(window, token.mid(7));
    if (token.startsWith(QLatin1String("click:"))) {
        const QString name = token.mid(6);
        for (auto* button : window.findChildren<QAbstractButton*>()) {
            // A disabled one of the same text (the header's 导出 under the export panel) is passed over.
            if (button->isVisible() && button->isEnabled() &&
                (button->text() == name || button->accessibleName() == name)) {
                button->click();
                return;
            }
        }
        std::fprintf(stderr, "screenshot: no button %s\n", qPrintable(name));
        return;
    }
    if (token == QLatin1String("grip")) {
        for (auto* grip : window.findChildren<WaveformBoundaryHandle*>()) {
            if (grip->isVisible()) {
                // Without a window manager nothing activates the window by itself.
                window.activateWindow();
                grip->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
        return;
    }
    static const std::map<QString, std::pair<int, QString>> named = {
        {"Down", {Qt::Key_Down, {}}},
        {"Up", {Qt::Key_Up, {}}},
        {"Left", {Qt::Key_Left, {}}},
        {"Right", {Qt::Key_Right, {}}},
        {"Tab", {Qt::Key_Tab, "\t"}},
        {"Space", {Qt::Key_Space, " "}},
        {"Return", {Qt::Key_Return, "\r"}},
        {"Escape", {Qt::Key_Escape, {}}},
        {"Backspace", {Qt::Key_Backspace, "\b"}},
    };
    int key = 0;
    QString text;
    if (const auto found = named.find(token); found != named.end()) {
        std::tie(key, text) = found->second;
    } else if (token.size() == 1) {
        key = token.at(0).toUpper().unicode();
        text = token;
    } else {
        std::fprintf(stderr, "screenshot: unknown key %s\n", qPrintable(token));
        return;
    }
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : &window, &release);
}

void takeScreenshotWhenIdle(QMainWindow& window, Workspace& workspace, bool demo, const QString& file) {
    struct Watch {
        QElapsedTimer sinceStart;
        QElapsedTimer sinceIdle;  // invalid while busy
        QStringList keys;         // still to press, each once the window is idle
    };
    auto watch = std::make_shared<Watch>();
    watch->sinceStart.start();
    watch->keys = qEnvironmentVariable("TALVIAN_SCREENSHOT_KEYS").split(',', Qt::SkipEmptyParts);
    const QStringList size = qEnvironmentVariable("TALVIAN_SCREENSHOT_SIZE").split('x');
    if (size.size() == 2) window.resize(size.at(0).toInt(), size.at(1).toInt());
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, &workspace, demo, file, timer, watch] {
        const bool idle = !workspace.job().busy && !workspace.playback().previewLoading &&
                          !workspace.waveform().loading &&
                          (!demo || workspace.document().project || workspace.job().notice);
        if (!idle) watch->sinceIdle.invalidate();
        if (idle && !watch->sinceIdle.isValid()) watch->sinceIdle.start();
        const bool settled = watch->sinceIdle.isValid() && watch->sinceIdle.elapsed() >= kSettleMilliseconds;
        if (!settled && watch->sinceStart.elapsed() < kGiveUpMilliseconds) return;
        if (settled && !watch->keys.isEmpty()) {
            pressKey(window, watch->keys.takeFirst());
            watch->sinceIdle.invalidate();
            return;
        }
        timer->stop();
        const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(file, "PNG");
        if (!saved) std::fprintf(stderr, "screenshot: could not write %s\n", qPrintable(file));
        // What the shot shows, for scripts that check the state without reading the picture.
        std::printf("screenshot: source %s; preview %s; notice %s\n",
                    workspace.document().source ? workspace.document().source->c_str() : "(none)",
                    workspace.playback().previewReady ? "ready" : "not ready",
                    workspace.job().notice ? workspace.job().notice->c_str() : "(none)");
        std::fflush(stdout);
        QCoreApplication::exit(saved ? 0 : 1);
    });
    timer->start(kIdlePollMilliseconds);
}

}  // namespace

void installDeveloperHooks(QMainWindow& window, Workspace& workspace, bool demo) {
    if (qEnvironmentVariableIsSet("TALVIAN_REPORT_FIRST_PAINT"))
        qApp->installEventFilter(new FirstPaintReport(&window));
    const QString screenshot = qEnvironmentVariable("TALVIAN_SCREENSHOT");
    if (!screenshot.isEmpty()) takeScreenshotWhenIdle(window, workspace, demo, screenshot);
}

}  // namespace talvian
