// The sound input on test capture PCMs that behave like a sound card's own devices: ALSA's
// "default" can be held by one opener only, and "zel_overrun" overruns now and then.
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

TEST(AlsaOverrunningDevice, RecordingGoesOnAfterOverruns) {
    platform::TAlsaWaveInService Service;
    UINT Overrunning = WAVE_MAPPER;
    WAVEINCAPSA Caps{};
    for (UINT Device = 0; Device < Service.GetNumDevs(); ++Device)
        if (Service.GetDevCaps(Device, &Caps, sizeof Caps) == MMSYSERR_NOERROR &&
            std::string(Caps.szPname) == "Overrunning test input")
            Overrunning = Device;
    ASSERT_NE(Overrunning, WAVE_MAPPER);

    TRecordingSession Session(Service);
    ASSERT_EQ(Session.Open(Overrunning), MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    // The device overruns 300 ms after every start: ten buffers outlast several overruns.
    for (int Buffer = 0; Buffer < 10; ++Buffer) {
        std::optional<TNotification> Data = Session.NextData();
        ASSERT_TRUE(Data) << "recording ended after " << Buffer << " buffers";
        EXPECT_EQ(Data->BytesRecorded, TRecordingSession::ReceiverBufferBytes);
        Session.Requeue(Data->Header);
    }
    EXPECT_TRUE(Session.ResetAndClose());
}
