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

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kIdlePollMilliseconds = 250;
// Idle must hold this long, so that the last repaint has reached the screen.
constexpr int kSettleMilliseconds = 800;
// The shot is taken anyway after this long (the script's own limit is 45 s).
constexpr int kGiveUpMilliseconds = 38000;

class FirstPaintReporter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !reported_ && qobject_cast<QWidget*>(watched)) {
            reported_ = true;
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::printf("first-paint %lld\n",
                        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool reported_ = false;
};

void takeScreenshotWhenIdle(QMainWindow& window, Workspace& workspace, bool demo, const QString& file) {
    auto* timer = new QTimer(&window);
    auto* clock = new QElapsedTimer;
    auto* idleSince = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, &window, [&workspace, demo, file, timer, clock, idleSince] {
        const bool idle = !workspace.cutBusy() && !workspace.previewLoading() &&
                          (!demo || workspace.project() || workspace.notice());
        if (!idle) idleSince->invalidate();
        if (idle && !idleSince->isValid()) idleSince->start();
        const bool settled = idleSince->isValid() && idleSince->elapsed() >= kSettleMilliseconds;
        if (!settled && clock->elapsed() < kGiveUpMilliseconds) return;
        timer->stop();
        const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(file, "PNG");
        if (!saved) std::fprintf(stderr, "screenshot: could not write %s\n", qPrintable(file));
        // What the shot shows, for scripts that check the state without reading the picture.
        std::printf("screenshot: source %s; notice %s\n",
                    workspace.source() ? workspace.source()->c_str() : "(none)",
                    workspace.notice() ? workspace.notice()->c_str() : "(none)");
        std::fflush(stdout);
        delete clock;
        delete idleSince;
        QCoreApplication::exit(saved ? 0 : 1);
    });
    timer->start(kIdlePollMilliseconds);
}

}  // namespace

void installDeveloperHooks(QMainWindow& window, Workspace& workspace, bool demo) {
    if (qEnvironmentVariableIsSet("TALVIAN_REPORT_FIRST_PAINT"))
        // Any widget's paint counts: the window's own area is covered by its children.
        qApp->installEventFilter(new FirstPaintReporter(&window));
    const QString screenshot = qEnvironmentVariable("TALVIAN_SCREENSHOT");
    if (!screenshot.isEmpty()) takeScreenshotWhenIdle(window, workspace, demo, screenshot);
}

}  // namespace talvian
