// The ALSA sound input recording from a private PulseAudio server, whose default source
// hears what paplay plays into its null sink.
#include "TestSignal.h"
#include "WaveInProbe.h"

#include "platform/AlsaWaveIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

// Long buffers for the tests that stop part-way, so that a slow machine cannot overshoot.
constexpr DWORD LongBuffer = 96000; // 1 s

class AlsaRecording : public testing::Test {
protected:
    platform::TAlsaWaveInService Service;

    MMRESULT Position(HWAVEIN Handle, DWORD &Bytes) {
        MMTIME Time{};
        Time.wType = TIME_BYTES;
        MMRESULT Result = Service.GetPosition(Handle, &Time, sizeof Time);
        Bytes = Time.u.cb;
        return Result;
    }

    // Waits until the device has recorded at least Bytes since its start.
    void WaitForPosition(HWAVEIN Handle, DWORD Bytes) {
        const auto Deadline = std::chrono::steady_clock::now() + 10s;
        DWORD Recorded = 0;
        while (Position(Handle, Recorded) == MMSYSERR_NOERROR && Recorded < Bytes &&
               std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(5ms);
        ASSERT_GE(Recorded, Bytes);
    }
};

} // namespace

TEST_F(AlsaRecording, DescribesTheDefaultInputAndItsFormats) {
    WAVEINCAPSA Caps{};
    ASSERT_EQ(Service.GetDevCaps(WAVE_MAPPER, &Caps, sizeof Caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(Caps.szPname, "Default sound input");
    // The sound server converts whatever is asked for.
    EXPECT_EQ(Caps.dwFormats, 0xFFFu);
    EXPECT_EQ(Caps.wChannels, 2);

    const UINT Count = Service.GetNumDevs();
    EXPECT_GE(Count, 1u);
    for (UINT Device = 0; Device < Count; ++Device) {
        ASSERT_EQ(Service.GetDevCaps(Device, &Caps, sizeof Caps), MMSYSERR_NOERROR);
        EXPECT_LT(std::strlen(Caps.szPname), sizeof Caps.szPname);
    }
    EXPECT_EQ(Service.GetDevCaps(Count, &Caps, sizeof Caps), MMSYSERR_BADDEVICEID);
}

TEST_F(AlsaRecording, AnswersFormatQueriesWithoutHoldingTheDevice) {
    const std::size_t Files = OpenFileCount();
    WAVEFORMATEX Format = Mono16bit48000Hz();
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
              MMSYSERR_NOERROR);
    WAVEFORMATEX Stereo8 = {WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8, 0};
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Stereo8, 0, 0, WAVE_FORMAT_QUERY),
              MMSYSERR_NOERROR);
    Format.wBitsPerSample = 24;
    Format.nBlockAlign = 3;
    Format.nAvgBytesPerSec = 144000;
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
              WAVERR_BADFORMAT);
    Format = Mono16bit48000Hz();
    Format.nAvgBytesPerSec = 1; // inconsistent with the rest
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
              WAVERR_BADFORMAT);
    Format = Mono16bit48000Hz();
    EXPECT_EQ(Service.Open(nullptr, Service.GetNumDevs(), &Format, 0, 0, WAVE_FORMAT_QUERY),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(OpenFileCount(), Files);
}

TEST_F(AlsaRecording, RecordsPlayedMessagesInFullBuffersThatAreDecodedExactly) {
    const std::vector<std::string> Messages = {"SMS>HELLO FROM THE SOUND SERVER",
                                               "LOC>5230N01322E"};
    TRecordingSession Session(Service);
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);

    TDecoder Decoder;
    TPlayback Playback(MessageSignal(Messages));
    std::vector<TNotification> Returned;
    // The recording may lag the playback (an idle null sink renders in long blocks), so
    // recording goes on until the messages are decoded, for at most 10 s after the end.
    for (int AfterEnd = 0; Decoder.Deliveries().size() < Messages.size() && AfterEnd < 50;) {
        std::optional<TNotification> Data = Session.NextData();
        ASSERT_TRUE(Data) << "no buffer came back";
        EXPECT_EQ(Data->BytesRecorded, TRecordingSession::ReceiverBufferBytes);
        EXPECT_EQ(Data->Flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        Decoder.Feed(Data->Header->lpData, Data->BytesRecorded);
        Returned.push_back(*Data);
        Session.Requeue(Data->Header);
        AfterEnd += Playback.Finished() ? 1 : 0;
        ASSERT_LT(Returned.size(), 300u) << "the playback never ended";
    }
    EXPECT_TRUE(Playback.Wait());
    std::vector<TDelivery> Expected;
    for (const std::string &Message : Messages)
        Expected.push_back(ExpectedDelivery(Message));
    EXPECT_EQ(Decoder.Deliveries(), Expected);

    // Buffers come back in the order they were added, paced by the audio in them.
    std::vector<std::chrono::steady_clock::duration> Intervals;
    for (std::size_t Index = 1; Index < Returned.size(); ++Index) {
        EXPECT_NE(Returned[Index].Header, Returned[Index - 1].Header);
        Intervals.push_back(Returned[Index].HandledAt - Returned[Index - 1].HandledAt);
    }
    std::ranges::nth_element(Intervals, Intervals.begin() + Intervals.size() / 2);
    EXPECT_GT(Intervals[Intervals.size() / 2], 100ms);
    EXPECT_LT(Intervals[Intervals.size() / 2], 1000ms);
    DWORD Recorded = 0;
    ASSERT_EQ(Position(Session.Handle(), Recorded), MMSYSERR_NOERROR);
    EXPECT_GE(Recorded, Returned.size() * TRecordingSession::ReceiverBufferBytes);
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST_F(AlsaRecording, StopReturnsTheBufferBeingFilledAndResetReturnsTheRest) {
    TRecordingSession Session(Service, 2, LongBuffer);
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    WaitForPosition(Session.Handle(), LongBuffer / 4);
    ASSERT_EQ(Service.Stop(Session.Handle()), MMSYSERR_NOERROR);

    std::optional<TNotification> Partial = Session.NextData();
    ASSERT_TRUE(Partial);
    EXPECT_EQ(Partial->Header, &Session.Header(0));
    EXPECT_GT(Partial->BytesRecorded, 0u);
    EXPECT_LT(Partial->BytesRecorded, LongBuffer);
    EXPECT_EQ(Partial->BytesRecorded % 2, 0u);
    // The empty buffer stays queued: nothing else comes back while stopped.
    EXPECT_FALSE(Session.Log().Next(300ms));
    EXPECT_EQ(Session.Header(1).dwFlags & WHDR_INQUEUE, WHDR_INQUEUE);

    // Recording goes on into the buffer that waited; the reset returns it part-filled.
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    DWORD Before = 0;
    ASSERT_EQ(Position(Session.Handle(), Before), MMSYSERR_NOERROR);
    WaitForPosition(Session.Handle(), Before + LongBuffer / 4);
    ASSERT_EQ(Service.Reset(Session.Handle()), MMSYSERR_NOERROR);
    std::optional<TNotification> Rest = Session.NextData();
    ASSERT_TRUE(Rest);
    EXPECT_EQ(Rest->Header, &Session.Header(1));
    EXPECT_GT(Rest->BytesRecorded, 0u);
    EXPECT_LT(Rest->BytesRecorded, LongBuffer);
    DWORD AfterReset = 1;
    ASSERT_EQ(Position(Session.Handle(), AfterReset), MMSYSERR_NOERROR);
    EXPECT_EQ(AfterReset, 0u);
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST_F(AlsaRecording, ResetDuringPlaybackReturnsThePartialBufferAndTheEmptyOne) {
    TRecordingSession Session(Service, 2, LongBuffer);
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    TPlayback Playback(MessageSignal({"SMS>RESET WHILE THIS PLAYS"}));
    std::optional<TNotification> Full = Session.NextData();
    ASSERT_TRUE(Full);
    Session.Requeue(Full->Header);
    WaitForPosition(Session.Handle(), LongBuffer * 5 / 4);
    ASSERT_EQ(Service.Reset(Session.Handle()), MMSYSERR_NOERROR);

    std::optional<TNotification> Partial = Session.NextData();
    std::optional<TNotification> Empty = Session.NextData();
    ASSERT_TRUE(Partial && Empty);
    EXPECT_EQ(Partial->Header, &Session.Header(1));
    EXPECT_GT(Partial->BytesRecorded, 0u);
    EXPECT_LT(Partial->BytesRecorded, LongBuffer);
    EXPECT_EQ(Empty->Header, &Session.Header(0));
    EXPECT_EQ(Empty->BytesRecorded, 0u);
    EXPECT_EQ(Empty->Flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST_F(AlsaRecording, DropsAudioWhileNoBufferIsQueuedAndFillsBuffersAddedLater) {
    TRecordingSession Session(Service, 1);
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    WaitForPosition(Session.Handle(), TRecordingSession::ReceiverBufferBytes * 2);
    Session.QueueAll();
    std::optional<TNotification> Data = Session.NextData();
    ASSERT_TRUE(Data);
    EXPECT_EQ(Data->BytesRecorded, TRecordingSession::ReceiverBufferBytes);
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST_F(AlsaRecording, KeepsTheQueueRulesAndRefusesStaleHandles) {
    TRecordingSession Session(Service);
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    const HWAVEIN Handle = Session.Handle();
    WAVEHDR &Header = Session.Header(0);
    EXPECT_EQ(Service.AddBuffer(Handle, &Header, sizeof Header), WAVERR_UNPREPARED);
    Session.QueueAll();
    EXPECT_EQ(Service.AddBuffer(Handle, &Header, sizeof Header), WAVERR_STILLPLAYING);
    EXPECT_EQ(Service.UnprepareHeader(Handle, &Header, sizeof Header), WAVERR_STILLPLAYING);
    EXPECT_EQ(Service.Close(Handle), WAVERR_STILLPLAYING);
    EXPECT_EQ(Service.AddBuffer(Handle, nullptr, sizeof Header), MMSYSERR_INVALPARAM);
    EXPECT_TRUE(Session.ResetAndClose());

    MMTIME Time{};
    EXPECT_EQ(Service.Start(Handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Service.Close(Handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Service.GetPosition(Handle, &Time, sizeof Time), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Service.PrepareHeader(0x5eed, &Header, sizeof Header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Service.Reset(0), MMSYSERR_INVALHANDLE);
}

TEST_F(AlsaRecording, RepeatedOpenAndCloseLeaveNoThreadOrFileBehind) {
    auto Cycle = [this] {
        TRecordingSession Session(Service);
        ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
        Session.QueueAll();
        ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
        ASSERT_TRUE(Session.NextData());
        EXPECT_TRUE(Session.ResetAndClose());
    };
    Cycle(); // the first open loads what ALSA keeps for the whole process
    const std::size_t Files = OpenFileCount();
    const std::size_t Threads = ThreadCount();
    for (int Round = 0; Round < 5; ++Round)
        Cycle();
    EXPECT_EQ(OpenFileCount(), Files);
    EXPECT_EQ(ThreadCount(), Threads);
}

TEST_F(AlsaRecording, ASoundServerThatGoesAwayLeavesTheDeviceResettableAndClosable) {
    // A server of this test's own, so that the others keep theirs.
    const std::string Dir = testing::TempDir() + "zel-vanishing-pulse-" + std::to_string(getpid());
    const std::string Script = std::string("bash ") + ZEL_PULSE_SCRIPT + " ";
    ASSERT_EQ(std::system((Script + "start " + Dir).c_str()), 0);
    const std::string Shared = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", ("unix:" + Dir + "/native").c_str(), 1);
    TRecordingSession Session(Service);
    const MMRESULT Opened = Session.Open();
    setenv("PULSE_SERVER", Shared.c_str(), 1);
    ASSERT_EQ(Opened, MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    std::optional<TNotification> Data = Session.NextData();
    ASSERT_TRUE(Data);
    Session.Requeue(Data->Header);

    ASSERT_EQ(std::system((Script + "stop " + Dir).c_str()), 0);
    std::filesystem::remove_all(Dir);
    // Whatever was recorded comes back, and the device closes as usual.
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST(AlsaErrorText, NamesEveryFailureAUserCanMeetInOneSentence) {
    platform::TAlsaWaveInService Service;
    char Text[MAXERRORLENGTH];
    for (MMRESULT Code :
         {MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE,
          MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_INVALPARAM, WAVERR_BADFORMAT,
          WAVERR_STILLPLAYING, WAVERR_UNPREPARED}) {
        ASSERT_EQ(Service.GetErrorText(Code, Text, sizeof Text), MMSYSERR_NOERROR) << Code;
        EXPECT_TRUE(std::string(Text).ends_with(".")) << Text;
    }
    Service.GetErrorText(MMSYSERR_NODRIVER, Text, sizeof Text);
    EXPECT_STREQ(Text, "No sound input was found.");
    EXPECT_EQ(Service.GetErrorText(12345, Text, sizeof Text), MMSYSERR_BADERRNUM);
    EXPECT_STREQ(Text, "");
    char Short[8];
    ASSERT_EQ(Service.GetErrorText(MMSYSERR_NODRIVER, Short, sizeof Short), MMSYSERR_NOERROR);
    EXPECT_STREQ(Short, "No soun");
}
