// The sound input on test capture PCMs that behave like a sound card's own devices: ALSA's
// "default" can be held by one opener only and can be pulled out, and "zel_overrun"
// overruns now and then.
#include "KeptReceiver.h"
#include "RecordingStart.h"
#include "WaveInProbe.h"

#include "platform/AlsaWaveIn.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

namespace {

// ALSA's default pulled out (reads fail with ENODEV, opens too) and plugged back in.
class AlsaRemovableDevice : public testing::Test {
protected:
    ~AlsaRemovableDevice() override { PlugIn(); }
    void PullOut() { std::ofstream(ZEL_DEVICE_REMOVED).put('\n'); }
    void PlugIn() { std::filesystem::remove(ZEL_DEVICE_REMOVED); }

    platform::TAlsaWaveInService Service;
};

} // namespace

TEST_F(AlsaRemovableDevice, ReturnsEveryBufferRefusesToRecordAndStillCloses) {
    TRecordingSession Session(Service);
    StartRecording(Service, Session);

    PullOut();
    const auto Pulled = std::chrono::steady_clock::now();
    std::optional<TNotification> First = Session.NextData();
    std::optional<TNotification> Second = Session.NextData();
    ASSERT_TRUE(First && Second);
    EXPECT_LT(Second->HandledAt - Pulled, 1s);
    EXPECT_EQ(Second->BytesRecorded, 0u);
    EXPECT_EQ(Service.AddBuffer(Session.Handle(), First->Header, sizeof(WAVEHDR)),
              MMSYSERR_NODRIVER);
    EXPECT_EQ(Service.Start(Session.Handle()), MMSYSERR_NODRIVER);
    EXPECT_TRUE(Session.ResetAndClose());
    EXPECT_EQ(Session.Open(), MMSYSERR_NODRIVER);

    PlugIn();
    StartRecording(Service, Session);
}

TEST_F(AlsaRemovableDevice, AKeptReceiverTellsOnceOfEachFailureAndRecordsWhenTheDeviceIsBack) {
    platform::IWaveInService *Previous = platform::SetWaveInService(&Service);
    PullOut();
    {
        TKeptReceiver Receiver;
        EXPECT_EQ(Receiver.Errors(), std::vector<std::string>{"No sound input was found."});
        PlugIn();
        ASSERT_TRUE(Receiver.WaitForAudio(10s)) << "never started once the device was there";

        PullOut();
        ASSERT_TRUE(TKeptReceiver::WaitFor([&] { return Receiver.Errors().size() == 2; }, 5s));
        TKeptReceiver::WaitFor([] { return false; }, 3s); // attempts while it is away
        PlugIn();
        const auto Took = Receiver.WaitForAudio(10s);
        ASSERT_TRUE(Took) << "never recorded again";
        std::printf("recording again %lld ms after the device returned\n",
                    static_cast<long long>(Took->count()));
        EXPECT_EQ(Receiver.Errors(), (std::vector<std::string>{"No sound input was found.",
                                                               "The sound input was lost."}));
    }
    platform::SetWaveInService(Previous);
}
