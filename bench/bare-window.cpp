// The reference of bench/startup.sh: a bare Qt program that shows one empty QMainWindow and,
// like the application with TALVIAN_REPORT_FIRST_PAINT set, prints "first-paint <ns since the
// epoch>" when the window first paints, then quits.

#include <QApplication>
#include <QMainWindow>

#include "Shell/FirstPaintReport.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window;
    talvian::FirstPaintReport reporter;
    application.installEventFilter(&reporter);
    window.resize(1280, 820);
    window.show();
    return QApplication::exec();
}
