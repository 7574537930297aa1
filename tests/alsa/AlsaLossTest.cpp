// A receiver kept listening, as the window keeps it, through what befalls a sound server
// of its own: killed and started again, its sink unloaded and loaded again, suspended
// and resumed, stopped and continued; started before the server, or while it is stopped;
// and closed while the server is stopped. On ALSA (through its sound server plugin) and
// on the input the program uses.
#include "KeptReceiver.h"

#include "platform/AlsaWaveIn.h"
#include "platform/PreferredWaveIn.h"
#include "platform/SoundServerWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <tuple>

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
        Use(false);
    }
    ~SoundServer() override {
        platform::SetWaveInService(Previous);
        Service.reset();
        Run("kill -CONT $PID; bash " ZEL_PULSE_SCRIPT " stop $SERVER");
        setenv("PULSE_SERVER", FShared.c_str(), 1);
    }
    static void Run(const std::string &Command) {
        const std::string Line =
            "PID=$(cat $SERVER/runtime/pid 2>/dev/null); { " + Command + "; } >/dev/null";
        EXPECT_EQ(std::system(Line.c_str()), 0) << Command;
    }
    // Records through the program's choice of input, or through ALSA.
    void Use(bool Preferred) {
        auto Chosen =
            Preferred
                ? platform::CreatePreferredWaveInService(platform::TSoundServerLoop::OwnThreads())
                : std::unique_ptr<platform::IWaveInService>(
                      std::make_unique<platform::TAlsaWaveInService>());
        platform::IWaveInService *Replaced = platform::SetWaveInService(Chosen.get());
        if (!Service)
            Previous = Replaced;
        Service = std::move(Chosen);
    }
    // Whether the server records for this program through libpulse itself.
    static bool RecordsThroughLibpulse() {
        FILE *Pipe = popen("pactl list source-outputs", "r");
        std::string Text(1 << 16, '\0');
        Text.resize(Pipe ? std::fread(Text.data(), 1, Text.size(), Pipe) : 0);
        if (Pipe)
            pclose(Pipe);
        return Text.find("application.name = \"ZEL Text Receiver\"") != std::string::npos;
    }

    std::string FShared;
    std::unique_ptr<platform::IWaveInService> Service;
    platform::IWaveInService *Previous = nullptr;
};

struct TLossCase {
    const char *Name;
    const char *Lose;
    const char *Return;
    bool Reported; // the input was gone, not only paused
    // ALSA's plugin waits for a server that stopped answering as for a paused one.
    bool ReportedOnAlsa = Reported;
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
    {"ServerStoppedAndContinued", "kill -STOP $PID", "kill -CONT $PID", true, false},
};

class SoundServerLoss : public SoundServer,
                        public testing::WithParamInterface<std::tuple<TLossCase, bool>> {};

// The server is not there yet (gone, stopped, or without a source) when the program
// starts; the return is what the user does next.
const TLossCase LateInputCases[] = {
    {"ServerStartedLater", "bash " ZEL_PULSE_SCRIPT " stop $SERVER",
     "bash " ZEL_PULSE_SCRIPT " start $SERVER", true},
    {"ServerContinuedLater", "kill -STOP $PID", "kill -CONT $PID", true},
    {"SinkLoadedLater", LossCases[1].Lose, LossCases[1].Return, true},
};

class LateSoundServer : public SoundServer, public testing::WithParamInterface<TLossCase> {};

void ExpectMessageReceived(TKeptReceiver &Receiver) {
    const std::string Message = "SMS>SENT AFTER THE RETURN";
    TPlayback Playback(MessageSignal({Message}));
    EXPECT_TRUE(TKeptReceiver::WaitFor([&] { return !Receiver.Deliveries().empty(); }, 20s));
    EXPECT_EQ(Receiver.Deliveries(), std::vector<TDelivery>{ExpectedDelivery(Message)});
    EXPECT_TRUE(Playback.Wait());
}

} // namespace

TEST_P(SoundServerLoss, OneErrorAtMostThenMessagesAfterTheReturnAreReceived) {
    const auto &[Case, Preferred] = GetParam();
    Use(Preferred);
    TKeptReceiver Receiver;
    ASSERT_TRUE(Receiver.WaitForAudio(10s)) << "recording never started";

    Run(Case.Lose);
    const bool Reported = Preferred ? Case.Reported : Case.ReportedOnAlsa;
    const std::vector<std::string> Expected(Reported ? 1 : 0, "The sound input was lost.");
    TKeptReceiver::WaitFor([&] { return !Receiver.Errors().empty(); }, 3s);
    TKeptReceiver::WaitFor([] { return false; }, 3s); // nothing more while it stays away
    EXPECT_EQ(Receiver.Errors(), Expected);

    Run(Case.Return);
    const auto Took = Receiver.WaitForAudio(15s);
    ASSERT_TRUE(Took) << "recording never resumed";
    std::printf("%s: recording again %lld ms after the input returned\n", Case.Name,
                static_cast<long long>(Took->count()));
    ExpectMessageReceived(Receiver);
    EXPECT_EQ(Receiver.Errors(), Expected);
    EXPECT_EQ(Receiver.Recoveries(), Expected.size())
        << "a loss, and only a loss, is followed by news of the return";
}

INSTANTIATE_TEST_SUITE_P(Cases, SoundServerLoss,
                         testing::Combine(testing::ValuesIn(LossCases), testing::Bool()),
                         [](const auto &Info) {
                             return std::string(std::get<0>(Info.param).Name) +
                                    (std::get<1>(Info.param) ? "Preferred" : "Alsa");
                         });

// A program started before its sound server (at login) records through libpulse once the
// server is there, and soon: not through ALSA's plugin, not after an abandoned wait.
TEST_P(LateSoundServer, OneErrorThenRecordsThroughTheServerWithinThreeSeconds) {
    const TLossCase &Case = GetParam();
    Use(true);
    Run(Case.Lose);
    TKeptReceiver Receiver;
    EXPECT_EQ(Receiver.Errors(), std::vector<std::string>{"No sound input was found."});
    TKeptReceiver::WaitFor([] { return false; }, 3s); // nothing more while it stays away
    EXPECT_EQ(Receiver.Buffers(), 0u);

    Run(Case.Return);
    const auto Took = Receiver.WaitForAudio(15s);
    ASSERT_TRUE(Took) << "recording never started";
    std::printf("%s: recording %lld ms after the input appeared\n", Case.Name,
                static_cast<long long>(Took->count()));
    EXPECT_LT(*Took, 3s);
    EXPECT_TRUE(RecordsThroughLibpulse());
    ExpectMessageReceived(Receiver);
    EXPECT_EQ(Receiver.Errors().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, LateSoundServer, testing::ValuesIn(LateInputCases),
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

namespace {

using platform::TSoundServerState;

// What the server goes through, one step after the other, and what the watch must then
// say of it, each change announced.
struct TWatchStep {
    const char *Command;
    platform::TSoundServerAnswer Expected;
    bool Doubted = false; // a recording that failed made the program doubt the server
};

const TWatchStep WatchSteps[] = {
    {LossCases[1].Lose, {TSoundServerState::Answering, false}},
    {LossCases[1].Return, {TSoundServerState::Answering, true}},
    {"kill -STOP $PID", {TSoundServerState::Silent, false}, true},
    {"kill -CONT $PID", {TSoundServerState::Answering, true}},
    {"kill -KILL $PID", {TSoundServerState::Absent, false}},
    {"bash " ZEL_PULSE_SCRIPT " start $SERVER", {TSoundServerState::Answering, true}},
    {"bash " ZEL_PULSE_SCRIPT " stop $SERVER", {TSoundServerState::Absent, false}},
    {"bash " ZEL_PULSE_SCRIPT " start $SERVER", {TSoundServerState::Answering, true}},
};

} // namespace

TEST_F(SoundServer, TheWatchKnowsWhatTheServerOffersAndTellsOfEachChange) {
    std::atomic<int> Changes = 0;
    platform::TSoundServerWatch Watch([&] { ++Changes; });
    const auto Now = [] { return std::chrono::steady_clock::now(); };
    ASSERT_EQ(Watch.Answer(Now() + 2s),
              (platform::TSoundServerAnswer{TSoundServerState::Answering, true}));
    for (const TWatchStep &Step : WatchSteps) {
        const int Before = Changes;
        Run(Step.Command);
        if (Step.Doubted)
            Watch.Doubt();
        const auto Deadline = Now() + 5s;
        while (Now() < Deadline && !(Watch.Answer(Now()) == Step.Expected && Changes > Before))
            std::this_thread::sleep_for(20ms);
        EXPECT_EQ(static_cast<int>(Watch.Answer(Now()).State),
                  static_cast<int>(Step.Expected.State))
            << Step.Command;
        EXPECT_EQ(Watch.Answer(Now()).HasSource, Step.Expected.HasSource) << Step.Command;
        EXPECT_GT(Changes, Before) << "no news of: " << Step.Command;
    }
}
