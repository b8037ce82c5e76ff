#pragma once
// The main of the test programs of the window's layers: Qt with the offscreen platform and the
// Studio look, settings and backups in folders of the test's own.

#include <QApplication>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "Kit/Studio.h"
#include "Kit/StudioPopover.h"
#include "TestSupport.h"

namespace talvian::test {

inline int runWidgetTests(int argc, char** argv) {
    TempDir configuration;
    TempDir data;
    setenv("XDG_CONFIG_HOME", configuration.path().c_str(), 1);
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    // The pixel probes expect the offscreen screen; it also lets the build list the tests
    // without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    StudioPopover::installApplicationAccessibility();
    QApplication application(argc, argv);
    // QApplication takes the user's locale; the tests read and write numbers with a point.
    std::setlocale(LC_NUMERIC, "C");
    Studio::applyToApplication(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace talvian::test
