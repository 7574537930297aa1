// The end-to-end tests run inside the program's own application object, on Qt's
// offscreen platform, recording through the program's own ALSA sound input.

#include "gui/Forms.h"
#include "platform/AlsaWaveIn.h"
#include "platform/WaveInService.h"

#include <gtest/gtest.h>

#include <optional>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Outlives the application, whose windows close the sound input when they go.
    platform::TAlsaWaveInService SoundInput;
    platform::SetWaveInService(&SoundInput);
    // Listing the tests needs no application (and no display).
    std::optional<TApplication> Application;
    if (!GTEST_FLAG_GET(list_tests))
        Application.emplace(argc, argv);
    return RUN_ALL_TESTS();
}
