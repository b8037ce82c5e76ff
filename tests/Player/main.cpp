// The player tests need an event loop (reports arrive through it) and the C numeric locale
// (libmpv refuses to start without it, and Qt's application object resets it).
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <clocale>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
