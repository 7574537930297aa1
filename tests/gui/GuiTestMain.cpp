// The GUI tests run inside the program's own application object, on Qt's offscreen
// platform, with a configuration folder of their own.

#include "gui/Forms.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir Configuration;
    qputenv("XDG_CONFIG_HOME", Configuration.path().toLocal8Bit());
    // Listing the tests needs no application (and no display).
    std::optional<TApplication> Application;
    if (!GTEST_FLAG_GET(list_tests))
        Application.emplace(argc, argv);
    return RUN_ALL_TESTS();
}
