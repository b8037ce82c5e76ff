#include <QApplication>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "Views/Studio.h"

int main(int argc, char** argv) {
    // The window's controller reads and writes the user's settings and backup: the tests keep
    // theirs in folders of their own.
    talvian::test::TempDir configuration;
    talvian::test::TempDir data;
    setenv("XDG_CONFIG_HOME", configuration.path().c_str(), 1);
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    // Also when ctest lists the tests, which runs the program without the test environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    talvian::Studio::applyToApplication(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
