#include <QCoreApplication>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "TestSupport.h"

int main(int argc, char** argv) {
    // The controller reads and writes the user's settings: the tests keep theirs in a folder
    // of their own, never in the user's.
    talvian::test::TempDir configuration;
    setenv("XDG_CONFIG_HOME", configuration.path().c_str(), 1);
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
