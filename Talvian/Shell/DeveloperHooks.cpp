#include "DeveloperHooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

#include "FirstPaintReport.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kIdlePollMilliseconds = 250;
// Idle must hold this long, so that the last repaint has reached the screen.
constexpr int kSettleMilliseconds = 800;
// The shot is taken anyway after this long (the script's own limit is 45 s).
constexpr int kGiveUpMilliseconds = 38000;

void takeScreenshotWhenIdle(QMainWindow& window, Workspace& workspace, bool demo, const QString& file) {
    struct Watch {
        QElapsedTimer sinceStart;
        QElapsedTimer sinceIdle;  // invalid while busy
    };
    auto watch = std::make_shared<Watch>();
    watch->sinceStart.start();
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&workspace, demo, file, timer, watch] {
        const bool idle = !workspace.cutBusy() && !workspace.previewLoading() &&
                          (!demo || workspace.project() || workspace.notice());
        if (!idle) watch->sinceIdle.invalidate();
        if (idle && !watch->sinceIdle.isValid()) watch->sinceIdle.start();
        const bool settled = watch->sinceIdle.isValid() && watch->sinceIdle.elapsed() >= kSettleMilliseconds;
        if (!settled && watch->sinceStart.elapsed() < kGiveUpMilliseconds) return;
        timer->stop();
        const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(file, "PNG");
        if (!saved) std::fprintf(stderr, "screenshot: could not write %s\n", qPrintable(file));
        // What the shot shows, for scripts that check the state without reading the picture.
        std::printf("screenshot: source %s; preview %s; notice %s\n",
                    workspace.source() ? workspace.source()->c_str() : "(none)",
                    workspace.previewReady() ? "ready" : "not ready",
                    workspace.notice() ? workspace.notice()->c_str() : "(none)");
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
