#pragma once
// Prints "first-paint <ns since the epoch>" when any widget of the application paints for the
// first time, then quits: the measurement of bench/startup.sh. Header only, so that the
// benchmark's bare reference program reports the same way without linking the application.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace talvian {

class FirstPaintReport : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Any widget's paint counts: a window's own area is often covered by its children.
        if (event->type() == QEvent::Paint && !reported_ && qobject_cast<QWidget*>(watched)) {
            reported_ = true;
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::printf(
                "first-paint %lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stdout);
            QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool reported_ = false;
};

}  // namespace talvian
