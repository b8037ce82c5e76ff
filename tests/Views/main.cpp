#include <QApplication>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "Views/Studio.h"

int main(int argc, char** argv) {
    // The pixel probes expect the offscreen screen; it also lets the build list the tests
    // without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // QApplication takes the user's locale; the tests read and write numbers with a point.
    std::setlocale(LC_NUMERIC, "C");
    talvian::Studio::applyToApplication(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
