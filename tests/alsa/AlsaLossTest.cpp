// A receiver kept listening, as the window keeps it, through what befalls a sound server
// of its own: killed and started again, its sink unloaded and loaded again, suspended
// and resumed; and closed while the server is stopped.
#include "KeptReceiver.h"

#include "platform/AlsaWaveIn.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

const std::string LostText = "The sound input was lost.";

// A private server in a directory of its own, which the clients of this process reach.
class TOwnSoundServer {
public:
    TOwnSoundServer()
        : FDir(testing::TempDir() + "zel-loss-pulse-" + std::to_string(getpid())),
          FShared(std::getenv("PULSE_SERVER")) {
        Script("start");
        setenv("PULSE_SERVER", ("unix:" + FDir + "/native").c_str(), 1);
    }
    ~TOwnSoundServer() {
        Signal(SIGCONT);
        Script("stop");
        setenv("PULSE_SERVER", FShared.c_str(), 1);
    }

    void Script(const std::string &Command) {
        EXPECT_EQ(std::system(("bash " ZEL_PULSE_SCRIPT " " + Command + " " + FDir).c_str()), 0);
    }
    void Pactl(const std::string &Arguments) {
        EXPECT_EQ(std::system(("pactl " + Arguments + " >/dev/null").c_str()), 0) << Arguments;
    }
    void Signal(int Number) {
        int Pid = 0;
        if (std::ifstream(FDir + "/runtime/pid") >> Pid)
            kill(Pid, Number);
    }

private:
    std::string FDir;
    std::string FShared;
};

struct TLossCase {
    const char *Name;
    void (*Lose)(TOwnSoundServer &);
    void (*Return)(TOwnSoundServer &);
    bool Reported; // a user is told of it: the input was gone, not only paused
};

const TLossCase LossCases[] = {
    {"ServerKilledAndRestarted", [](TOwnSoundServer &S) { S.Signal(SIGKILL); },
     [](TOwnSoundServer &S) { S.Script("start"); }, true},
    {"SinkUnloadedAndReloaded",
     [](TOwnSoundServer &S) { S.Pactl("unload-module module-null-sink"); },
     [](TOwnSoundServer &S) {
         S.Pactl("load-module module-null-sink sink_name=zel_null rate=48000 channels=1 "
                 "channel_map=mono");
         S.Pactl("set-default-source zel_null.monitor");
     },
     true},
    {"SinkSuspendedAndResumed", [](TOwnSoundServer &S) { S.Pactl("suspend-sink zel_null 1"); },
     [](TOwnSoundServer &S) { S.Pactl("suspend-sink zel_null 0"); }, false},
};

class SoundServerLoss : public testing::TestWithParam<TLossCase> {
protected:
    void SetUp() override { Previous = platform::SetWaveInService(&Service); }
    void TearDown() override { platform::SetWaveInService(Previous); }

    TOwnSoundServer Server;
    platform::TAlsaWaveInService Service;
    platform::IWaveInService *Previous = nullptr;
};

} // namespace

TEST_P(SoundServerLoss, OneErrorAtMostThenMessagesAfterTheReturnAreReceived) {
    const TLossCase &Case = GetParam();
    TKeptReceiver Receiver;
    ASSERT_TRUE(Receiver.WaitForAudio(10s)) << "recording never started";

    Case.Lose(Server);
    const std::vector<std::string> Expected =
        Case.Reported ? std::vector<std::string>{LostText} : std::vector<std::string>{};
    // Told within a second or so, then nothing more while the input stays away.
    TKeptReceiver::WaitFor([&] { return !Receiver.Errors().empty(); }, 3s);
    TKeptReceiver::WaitFor([] { return false; }, 3s);
    EXPECT_EQ(Receiver.Errors(), Expected);

    Case.Return(Server);
    const auto Took = Receiver.WaitForAudio(15s);
    ASSERT_TRUE(Took) << "recording never resumed";
    RecordProperty("RecoveryMs", std::to_string(Took->count()));
    std::printf("%s: recording again %lld ms after the input returned\n", Case.Name,
                static_cast<long long>(Took->count()));

    const std::string Message = "SMS>SENT AFTER THE RETURN";
    TPlayback Playback(MessageSignal({Message}));
    EXPECT_TRUE(TKeptReceiver::WaitFor([&] { return Receiver.Deliveries().size() >= 1; }, 20s));
    EXPECT_EQ(Receiver.Deliveries(), std::vector<TDelivery>{ExpectedDelivery(Message)});
    EXPECT_EQ(Receiver.Errors(), Expected);
    EXPECT_TRUE(Playback.Wait());
}

INSTANTIATE_TEST_SUITE_P(Cases, SoundServerLoss, testing::ValuesIn(LossCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(StoppedSoundServer, ClosingTheReceiverDoesNotWaitForIt) {
    TOwnSoundServer Server;
    platform::TAlsaWaveInService Service;
    platform::IWaveInService *Previous = platform::SetWaveInService(&Service);
    {
        auto *Receiver = new TKeptReceiver;
        ASSERT_TRUE(Receiver->WaitForAudio(10s));
        Server.Signal(SIGSTOP);
        const auto Start = std::chrono::steady_clock::now();
        delete Receiver;
        const auto Took = std::chrono::steady_clock::now() - Start;
        std::printf("closed in %lld ms\n", static_cast<long long>(Took / 1ms));
        EXPECT_LT(Took, 3s);
    }
    platform::SetWaveInService(Previous);
}
