// The sound input with nothing to record from: ALSA's "default" goes to a sound server
// that does not run, and the machine has no sound card.
#include "WaveInProbe.h"

#include "platform/AlsaWaveIn.h"

#include <gtest/gtest.h>

TEST(AlsaWithoutSoundServer, ReportsThatNoSoundInputWasFoundAndPrintsNothing) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    platform::TAlsaWaveInService Service;
    const WAVEFORMATEX Format = Mono16bit48000Hz();
    const MMRESULT Query = Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY);
    TRecordingSession Session(Service);
    const MMRESULT Open = Session.Open();
    WAVEINCAPSA Caps{};
    const MMRESULT CapsResult = Service.GetDevCaps(WAVE_MAPPER, &Caps, sizeof Caps);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(Query, MMSYSERR_NODRIVER);
    EXPECT_EQ(Open, MMSYSERR_NODRIVER);
    EXPECT_EQ(CapsResult, MMSYSERR_NODRIVER);
    char Text[MAXERRORLENGTH];
    ASSERT_EQ(Service.GetErrorText(Query, Text, sizeof Text), MMSYSERR_NOERROR);
    EXPECT_STREQ(Text, "No sound input was found.");
}
