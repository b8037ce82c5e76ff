// The reference of bench/startup.sh: a bare Qt program that shows one empty QMainWindow and,
// like the application with TALVIAN_REPORT_FIRST_PAINT set, prints "first-paint <ns since the
// epoch>" when the window first paints, then quits.

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace {

class FirstPaint : public QObject {
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

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window;
    FirstPaint reporter;
    application.installEventFilter(&reporter);
    window.resize(1280, 820);
    window.show();
    return QApplication::exec();
}
