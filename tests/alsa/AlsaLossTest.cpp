// A receiver kept listening, as the window keeps it, through what befalls a sound server
// of its own: killed and started again, its sink unloaded and loaded again, suspended
// and resumed; and closed while the server is stopped.
#include "KeptReceiver.h"

#include "platform/AlsaWaveIn.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;

namespace {

// The shell commands below reach the server as $SERVER (its directory) and $PID.
class SoundServer : public testing::Test {
protected:
    SoundServer() : FShared(std::getenv("PULSE_SERVER")) {
        const std::string Dir = testing::TempDir() + "zel-loss-pulse-" + std::to_string(getpid());
        setenv("SERVER", Dir.c_str(), 1);
        Run("bash " ZEL_PULSE_SCRIPT " start $SERVER");
        setenv("PULSE_SERVER", ("unix:" + Dir + "/native").c_str(), 1);
        Previous = platform::SetWaveInService(&Service);
    }
    ~SoundServer() override {
        platform::SetWaveInService(Previous);
        Run("kill -CONT $PID; bash " ZEL_PULSE_SCRIPT " stop $SERVER");
        setenv("PULSE_SERVER", FShared.c_str(), 1);
    }
    static void Run(const std::string &Command) {
        const std::string Line = "PID=$(cat $SERVER/runtime/pid); " + Command + " >/dev/null";
        EXPECT_EQ(std::system(Line.c_str()), 0) << Command;
    }

    std::string FShared;
    platform::TAlsaWaveInService Service;
    platform::IWaveInService *Previous = nullptr;
};

struct TLossCase {
    const char *Name;
    const char *Lose;
    const char *Return;
    bool Reported; // the input was gone, not only paused
};

const TLossCase LossCases[] = {
    {"ServerKilledAndRestarted", "kill -KILL $PID", "bash " ZEL_PULSE_SCRIPT " start $SERVER",
     true},
    {"SinkUnloadedAndReloaded", "pactl unload-module module-null-sink",
     "pactl load-module module-null-sink sink_name=zel_null rate=48000 channels=1 "
     "channel_map=mono && pactl set-default-source zel_null.monitor",
     true},
    {"SinkSuspendedAndResumed", "pactl suspend-sink zel_null 1", "pactl suspend-sink zel_null 0",
     false},
};

class SoundServerLoss : public SoundServer, public testing::WithParamInterface<TLossCase> {};

} // namespace

TEST_P(SoundServerLoss, OneErrorAtMostThenMessagesAfterTheReturnAreReceived) {
    const TLossCase &Case = GetParam();
    TKeptReceiver Receiver;
    ASSERT_TRUE(Receiver.WaitForAudio(10s)) << "recording never started";

    Run(Case.Lose);
    const std::vector<std::string> Expected(Case.Reported ? 1 : 0, "The sound input was lost.");
    TKeptReceiver::WaitFor([&] { return !Receiver.Errors().empty(); }, 3s);
    TKeptReceiver::WaitFor([] { return false; }, 3s); // nothing more while it stays away
    EXPECT_EQ(Receiver.Errors(), Expected);

    Run(Case.Return);
    const auto Took = Receiver.WaitForAudio(15s);
    ASSERT_TRUE(Took) << "recording never resumed";
    std::printf("%s: recording again %lld ms after the input returned\n", Case.Name,
                static_cast<long long>(Took->count()));
    const std::string Message = "SMS>SENT AFTER THE RETURN";
    TPlayback Playback(MessageSignal({Message}));
    EXPECT_TRUE(TKeptReceiver::WaitFor([&] { return !Receiver.Deliveries().empty(); }, 20s));
    EXPECT_EQ(Receiver.Deliveries(), std::vector<TDelivery>{ExpectedDelivery(Message)});
    EXPECT_EQ(Receiver.Errors(), Expected);
    EXPECT_EQ(Receiver.Recoveries(), Expected.size())
        << "a loss, and only a loss, is followed by news of the return";
    EXPECT_TRUE(Playback.Wait());
}

INSTANTIATE_TEST_SUITE_P(Cases, SoundServerLoss, testing::ValuesIn(LossCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(SoundServer, ClosingTheReceiverDoesNotWaitForItWhileItIsStopped) {
    auto *Receiver = new TKeptReceiver;
    ASSERT_TRUE(Receiver->WaitForAudio(10s));
    Run("kill -STOP $PID");
    const auto Start = std::chrono::steady_clock::now();
    delete Receiver;
    const auto Took = std::chrono::steady_clock::now() - Start;
    std::printf("closed in %lld ms\n", static_cast<long long>(Took / 1ms));
    EXPECT_LT(Took, 3s);
}
