// The sound-server input recording from a private PulseAudio server: its sources, a
// recording decoded exactly, a source it cannot have, and a server that dies and returns.
#include "RecordingStart.h"
#include "TestSignal.h"
#include "WaveInProbe.h"

#include "platform/PulseLoop.h"
#include "platform/PulseWaveIn.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

std::string Output(const std::string &Command) {
    std::string Text;
    if (FILE *Pipe = popen(Command.c_str(), "r")) {
        char Chunk[4096];
        for (std::size_t Read; (Read = std::fread(Chunk, 1, sizeof Chunk, Pipe)) > 0;)
            Text.append(Chunk, Read);
        pclose(Pipe);
    }
    return Text;
}

std::string ErrorText(platform::IWaveInService &Service, MMRESULT Code) {
    char Text[MAXERRORLENGTH];
    Service.GetErrorText(Code, Text, sizeof Text);
    return Text;
}

// A server of the test's own, so that the others keep theirs while it dies.
class TOwnServer {
public:
    TOwnServer()
        : FDir(testing::TempDir() + "zel-own-pulse-" + std::to_string(getpid())),
          FShared(std::getenv("PULSE_SERVER")) {
        Start();
        setenv("PULSE_SERVER", ("unix:" + FDir + "/native").c_str(), 1);
    }
    ~TOwnServer() {
        Signal(SIGCONT);
        Script("stop");
        std::filesystem::remove_all(FDir);
        setenv("PULSE_SERVER", FShared.c_str(), 1);
    }
    void Start() { ASSERT_EQ(Script("start"), 0); }
    void Stop() { ASSERT_EQ(Script("stop"), 0); }
    void Signal(int Number) {
        std::ifstream PidFile(FDir + "/runtime/pid");
        pid_t Pid = 0;
        if (PidFile >> Pid && Pid > 0)
            kill(Pid, Number);
    }

private:
    int Script(const char *Command) {
        return std::system(
            (std::string("bash ") + ZEL_PULSE_SCRIPT + " " + Command + " " + FDir).c_str());
    }
    std::string FDir;
    std::string FShared;
};

// Recording runs twice: with the sound server's events on a thread of the connection's
// own, and on the test thread's event loop, as the programs run them.
class PulseStream : public testing::TestWithParam<bool> {
protected:
    static platform::TSoundServerLoop Loop() {
        return GetParam() ? platform::TSoundServerLoop::ThisThreadsEventLoop()
                          : platform::TSoundServerLoop::OwnThreads();
    }
    // Notifications are awaited as this run's events need.
    void Follow(TRecordingSession &Session) { Session.Log().WaitInEventLoop(GetParam()); }
};

template <class TCall> std::chrono::steady_clock::duration Timed(TCall Call) {
    const auto Began = std::chrono::steady_clock::now();
    Call();
    return std::chrono::steady_clock::now() - Began;
}

} // namespace

TEST(PulseRecording, NamesTheSourcesAndAnswersFormatQueries) {
    platform::TPulseWaveInService Service(platform::TSoundServerLoop::OwnThreads());
    WAVEINCAPSA Caps{};
    ASSERT_EQ(Service.GetDevCaps(WAVE_MAPPER, &Caps, sizeof Caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(Caps.szPname, "Default sound input");
    EXPECT_EQ(Caps.dwFormats, 0xFFFu);
    EXPECT_EQ(Caps.wChannels, 1); // the private server's mono null sink
    ASSERT_EQ(Service.GetNumDevs(), 1u);
    ASSERT_EQ(Service.GetDevCaps(0, &Caps, sizeof Caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(Caps.szPname, "Monitor of Null Output");
    EXPECT_EQ(Service.GetDevCaps(1, &Caps, sizeof Caps), MMSYSERR_BADDEVICEID);

    WAVEFORMATEX Format = Mono16bit48000Hz();
    const WAVEFORMATEX Stereo8 = {WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8, 0};
    for (UINT Device : {WAVE_MAPPER, 0u}) {
        EXPECT_EQ(Service.Open(nullptr, Device, &Format, 0, 0, WAVE_FORMAT_QUERY),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(Service.Open(nullptr, Device, &Stereo8, 0, 0, WAVE_FORMAT_QUERY),
                  MMSYSERR_NOERROR);
    }
    EXPECT_EQ(Service.Open(nullptr, 1, &Format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    Format.nAvgBytesPerSec = 1;
    EXPECT_EQ(Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
              WAVERR_BADFORMAT);
    EXPECT_EQ(ErrorText(Service, MMSYSERR_NODRIVER), "No sound input was found.");
}

TEST_P(PulseStream, RecordsPlayedMessagesInFullBuffersUnderTheProgramsName) {
    const std::vector<std::string> Messages = {"SMS>HELLO FROM THE SOUND SERVER",
                                               "LOC>5230N01322E"};
    platform::TPulseWaveInService Service(Loop());
    TRecordingSession Session(Service);
    Follow(Session);
    const std::size_t Threads = ThreadCount();
    ASSERT_EQ(Session.Open(), MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    // On the event loop the audio wakes no thread of its own.
    EXPECT_EQ(ThreadCount() == Threads, GetParam());
    const std::string Streams = Output("pactl list source-outputs");
    EXPECT_NE(Streams.find("application.name = \"ZEL Text Receiver\""), std::string::npos)
        << Streams;
    EXPECT_NE(Streams.find("application.icon_name = \"zeltextreceiver\""), std::string::npos);

    TDecoder Decoder;
    TPlayback Playback(MessageSignal(Messages));
    for (int AfterEnd = 0; Decoder.Deliveries().size() < Messages.size() && AfterEnd < 50;) {
        std::optional<TNotification> Data = Session.NextData();
        ASSERT_TRUE(Data) << "no buffer came back";
        EXPECT_EQ(Data->BytesRecorded, TRecordingSession::ReceiverBufferBytes);
        Decoder.Feed(Data->Header->lpData, Data->BytesRecorded);
        // Returned late: the stream holds the audio meanwhile.
        std::this_thread::sleep_for(AfterEnd % 2 ? 300ms : 0ms);
        Session.Requeue(Data->Header);
        AfterEnd += Playback.Finished() ? 1 : 0;
    }
    EXPECT_TRUE(Playback.Wait());
    EXPECT_EQ(Decoder.Deliveries(), (std::vector<TDelivery>{ExpectedDelivery(Messages[0]),
                                                            ExpectedDelivery(Messages[1])}));
    EXPECT_TRUE(Session.ResetAndClose());
}

TEST(PulseRecording, ASourceTheServerCannotWakeIsInUse) {
    platform::TPulseWaveInService Service(platform::TSoundServerLoop::OwnThreads());
    ASSERT_EQ(std::system("pactl suspend-sink zel_null 1"), 0);
    TRecordingSession Session(Service);
    const MMRESULT Opened = Session.Open();
    std::system("pactl suspend-sink zel_null 0");
    EXPECT_EQ(Opened, MMSYSERR_ALLOCATED);
    EXPECT_EQ(ErrorText(Service, Opened), "The sound input is in use by another program.");
}

TEST_P(PulseStream, AServerThatStopsAnsweringHoldsNoCallUp) {
    TOwnServer Server;
    platform::TPulseWaveInService Service(Loop());
    TRecordingSession Session(Service);
    Follow(Session);
    StartRecording(Service, Session);
    Server.Signal(SIGSTOP);
    TRecordingSession Waiting(Service);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Waiting.Open(), MMSYSERR_NODRIVER); }), 2s);
    EXPECT_LT(Timed([&] {
                  EXPECT_EQ(Service.Stop(Session.Handle()), MMSYSERR_NOERROR);
                  EXPECT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
                  EXPECT_TRUE(Session.ResetAndClose());
              }),
              2s);
}

// Any thread may start the recording, also one whose sound-server events run on the
// event loop of the thread that opened it, while that loop has nothing else to wake it.
TEST_P(PulseStream, AnotherThreadStartsTheRecording) {
    platform::TPulseWaveInService Service(Loop());
    TRecordingSession Session(Service);
    Follow(Session);
    StartRecording(Service, Session);
    ASSERT_EQ(Service.Stop(Session.Handle()), MMSYSERR_NOERROR);
    // The buffer being filled comes back; then nothing more happens.
    while (Session.Log().Next(300ms))
        ;
    std::async(std::launch::async, [&] {
        EXPECT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    }).wait();
    for (int Buffer = 0; Buffer < 3; ++Buffer) {
        std::optional<TNotification> Data = Session.NextData(2s);
        ASSERT_TRUE(Data) << "no buffer came back after a start from another thread";
        Session.Requeue(Data->Header);
    }
    EXPECT_TRUE(Session.ResetAndClose());
}

// Queues both buffers and starts, without failing the test: true when a buffer comes back
// with audio.
bool Records(platform::IWaveInService &Service, TRecordingSession &Session) {
    for (std::size_t Index = 0; Index < 2; ++Index) {
        WAVEHDR &Header = Session.Header(Index);
        if (Service.PrepareHeader(Session.Handle(), &Header, sizeof Header) != MMSYSERR_NOERROR ||
            Service.AddBuffer(Session.Handle(), &Header, sizeof Header) != MMSYSERR_NOERROR)
            return false;
    }
    if (Service.Start(Session.Handle()) != MMSYSERR_NOERROR)
        return false;
    const std::optional<TNotification> Data = Session.NextData(2s);
    return Data && Data->BytesRecorded > 0;
}

TEST_P(PulseStream, ALostSourceOrServerReturnsEveryBufferAndAFreshOpenWorksOnceItIsBack) {
    TOwnServer Server;
    platform::TPulseWaveInService Service(Loop());
    struct TLoss {
        const char *Name;
        std::function<void()> Cause, Mend;
    };
    const std::string Sink = "module-null-sink sink_name=zel_null rate=48000 channels=1";
    for (const TLoss &Loss :
         {TLoss{"source unloaded", [] { std::system("pactl unload-module module-null-sink"); },
                [&] { std::system(("pactl load-module " + Sink + " >/dev/null").c_str()); }},
          TLoss{"server gone", [&] { Server.Stop(); }, [&] { Server.Start(); }}}) {
        SCOPED_TRACE(Loss.Name);
        TRecordingSession Session(Service);
        Follow(Session);
        StartRecording(Service, Session);
        Loss.Cause();
        std::set<WAVEHDR *> Returned;
        for (auto Next = Session.NextData(1s); Next && Returned.size() < 2;
             Next = Session.NextData(1s))
            Returned.insert(Next->Header);
        EXPECT_EQ(Returned.size(), 2u) << "a queued buffer did not come back within a second";
        WAVEHDR &Header = Session.Header(0);
        EXPECT_EQ(Service.AddBuffer(Session.Handle(), &Header, sizeof Header), MMSYSERR_NODRIVER);
        EXPECT_EQ(Service.Start(Session.Handle()), MMSYSERR_NODRIVER);
        EXPECT_TRUE(Session.ResetAndClose());

        Loss.Mend();
        // A source that has just come back may still be settling in the server, and the
        // first stream on it can be lost at once; a keeper opens again, and so does this.
        bool Recorded = false;
        for (int Attempt = 0; Attempt < 5 && !Recorded; ++Attempt) {
            if (Attempt > 0)
                std::this_thread::sleep_for(300ms);
            TRecordingSession Again(Service);
            Follow(Again);
            Recorded = Again.Open() == MMSYSERR_NOERROR && Records(Service, Again);
            EXPECT_TRUE(Again.ResetAndClose());
        }
        EXPECT_TRUE(Recorded) << "no fresh open recorded once the input was back";
    }
}

INSTANTIATE_TEST_SUITE_P(Events, PulseStream, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &Info) {
                             return Info.param ? "OnEventLoop" : "OnOwnThread";
                         });
