// The engine's notifications are handled from the main thread's Qt event loop, so
// the tests run with an application object on the main thread.

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    QCoreApplication Application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
