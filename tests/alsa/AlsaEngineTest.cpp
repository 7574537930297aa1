// The engine's live recorder, configured as the receiver configures it, on the ALSA sound
// input of a private PulseAudio server.
#include "TestSignal.h"

#include "audio/WaveRecorders.h"
#include "platform/AlsaWaveIn.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace std::chrono_literals;

namespace {

constexpr DWORD BufferBytes = 19200;

class AlsaEngine : public testing::Test {
protected:
    void SetUp() override {
        Previous = platform::SetWaveInService(&Service);
        Recorder = new TLiveAudioRecorder(nullptr);
        Recorder->SetAsync(false);
        Recorder->SetBufferCount(2);
        Recorder->SetBufferLength(200);
        Recorder->SetPCMFormat(Mono16bit48000Hz);
        Recorder->OnData = [this](TObject *, const void *Buffer, DWORD Size, bool &) {
            Sizes.push_back(Size);
            Decoder.Feed(static_cast<const char *>(Buffer), Size);
        };
    }

    void TearDown() override {
        FreeRecorder();
        platform::SetWaveInService(Previous);
    }

    void FreeRecorder() {
        if (Recorder)
            Recorder->Free();
        Recorder = nullptr;
    }

    // Runs the event loop until Condition holds; false after a generous time-out.
    static bool WaitFor(const std::function<bool()> &Condition) {
        const auto Deadline = std::chrono::steady_clock::now() + 30s;
        while (!Condition()) {
            if (std::chrono::steady_clock::now() > Deadline)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    platform::TAlsaWaveInService Service;
    platform::IWaveInService *Previous = nullptr;
    TLiveAudioRecorder *Recorder = nullptr;
    TDecoder Decoder;
    std::vector<DWORD> Sizes;
};

} // namespace

TEST_F(AlsaEngine, RecorderDecodesWhatIsPlayedIntoTheSoundServer) {
    const std::vector<std::string> Messages = {"SMS>RECORDED BY THE ENGINE", "LOC>4807N01134E"};
    Recorder->SetActive(true);
    ASSERT_TRUE(Recorder->Active());
    ASSERT_TRUE(WaitFor([this] { return !Sizes.empty(); })) << "recording never started";

    TPlayback Playback(MessageSignal(Messages));
    std::vector<TDelivery> Expected;
    for (const std::string &Message : Messages)
        Expected.push_back(ExpectedDelivery(Message));
    EXPECT_TRUE(WaitFor([&] { return Decoder.Deliveries().size() >= Expected.size(); }));
    EXPECT_EQ(Decoder.Deliveries(), Expected);
    for (DWORD Size : Sizes)
        EXPECT_EQ(Size, BufferBytes);

    Recorder->SetActive(false);
    EXPECT_TRUE(WaitFor([this] { return !Recorder->Active(); }));
    EXPECT_TRUE(Playback.Wait());
}

TEST_F(AlsaEngine, DeactivationDuringPlaybackDeliversThePartialBuffer) {
    Recorder->SetActive(true);
    TPlayback Playback(MessageSignal({"SMS>CUT SHORT BY THE DEACTIVATION"}));
    ASSERT_TRUE(WaitFor([this] { return Sizes.size() >= 2; }));
    // Half-way through a buffer.
    ASSERT_TRUE(WaitFor([this] { return Recorder->GetPosition() % 200 >= 80; }));
    const std::size_t FullBuffers = Sizes.size();
    FreeRecorder(); // deactivates and waits for the device to close
    ASSERT_GT(Sizes.size(), FullBuffers);
    EXPECT_GT(Sizes.back(), 0u);
    EXPECT_LT(Sizes.back(), BufferBytes);
    EXPECT_EQ(Sizes.back() % 2, 0u);
}
