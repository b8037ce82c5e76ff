// The updater's tests need an event loop (transfers and timers report through it), and keep
// the settings and data they write in folders of their own, never in the user's.
#include <QCoreApplication>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "TestSupport.h"

int main(int argc, char** argv) {
    talvian::test::TempDir configuration;
    talvian::test::TempDir data;
    setenv("XDG_CONFIG_HOME", configuration.path().c_str(), 1);
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
