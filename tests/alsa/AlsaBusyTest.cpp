// The sound input when another program holds the device: ALSA's "default" is a PCM that
// only one opener can hold at a time, and the test holds it first.
#include "WaveInProbe.h"

#include "platform/AlsaWaveIn.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

TEST(AlsaOnceOnlyDevice, PassesTheFormatQueryAndRefusesTheOpenAsInUse) {
    platform::TAlsaWaveInService Service;
    snd_pcm_t *Holder = nullptr;
    ASSERT_EQ(snd_pcm_open(&Holder, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK), 0);

    const WAVEFORMATEX Format = Mono16bit48000Hz();
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
              MMSYSERR_NOERROR);
    TRecordingSession Session(Service);
    EXPECT_EQ(Session.Open(), MMSYSERR_ALLOCATED);
    EXPECT_EQ(Session.Handle(), 0u);
    char Text[MAXERRORLENGTH];
    ASSERT_EQ(Service.GetErrorText(MMSYSERR_ALLOCATED, Text, sizeof Text), MMSYSERR_NOERROR);
    EXPECT_STREQ(Text, "The sound input is in use by another program.");

    // Once the other program lets go, the same device opens.
    snd_pcm_close(Holder);
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST(AlsaOnceOnlyDevice, RefusesAFormatTheDeviceCannotRecord) {
    platform::TAlsaWaveInService Service;
    const WAVEFORMATEX Format = {WAVE_FORMAT_PCM, 1, 96000, 192000, 2, 16, 0};
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
              WAVERR_BADFORMAT);
    WAVEINCAPSA Caps{};
    ASSERT_EQ(Service.GetDevCaps(WAVE_MAPPER, &Caps, sizeof Caps), MMSYSERR_NOERROR);
    EXPECT_EQ(Caps.dwFormats, 0xFFFu);
}
