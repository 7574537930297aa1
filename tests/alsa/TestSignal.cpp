#include "TestSignal.h"

#include "receiver/untFFSKReceiver.h"
#include "signal/FFSKEncoder.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

extern char **environ;

namespace {

constexpr int QuietSamples = ffsk::SampleRate / 2;

std::string WriteWav(const std::vector<std::int16_t> &Samples) {
    static std::atomic<int> Serial = 0;
    const std::string Path = testing::TempDir() + "zel-alsa-signal-" + std::to_string(getpid()) +
                             "-" + std::to_string(Serial++) + ".wav";
    SF_INFO Info{};
    Info.samplerate = ffsk::SampleRate;
    Info.channels = 1;
    Info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *File = sf_open(Path.c_str(), SFM_WRITE, &Info);
    EXPECT_NE(File, nullptr) << sf_strerror(nullptr);
    if (File) {
        EXPECT_EQ(sf_write_short(File, Samples.data(), static_cast<sf_count_t>(Samples.size())),
                  static_cast<sf_count_t>(Samples.size()));
        sf_close(File);
    }
    return Path;
}

} // namespace

std::vector<std::int16_t> MessageSignal(const std::vector<std::string> &Messages) {
    ffsk::TFFSKEncoder Encoder(0.5);
    Encoder.AddSilence(QuietSamples);
    for (const std::string &Message : Messages) {
        Encoder.AddPreamble(32);
        Encoder.AddMessage(Message);
        Encoder.AddSilence(QuietSamples);
    }
    return Encoder.Samples();
}

TPlayback::TPlayback(const std::vector<std::int16_t> &Samples) : FPath(WriteWav(Samples)) {
    const char *Arguments[] = {"paplay", "--device=zel_null", FPath.c_str(), nullptr};
    const int Error =
        posix_spawnp(&FPlayer, "paplay", nullptr, nullptr, const_cast<char **>(Arguments), environ);
    EXPECT_EQ(Error, 0) << "paplay could not be started";
    if (Error != 0)
        FPlayer = -1;
}

TPlayback::~TPlayback() {
    Wait();
    std::remove(FPath.c_str());
}

bool TPlayback::Finished() {
    return Reap(WNOHANG);
}

bool TPlayback::Wait() {
    return Reap(0) && FExitCode == 0;
}

bool TPlayback::Reap(int Options) {
    if (FPlayer <= 0)
        return true;
    int Status = 0;
    if (waitpid(FPlayer, &Status, Options) != FPlayer)
        return false;
    FPlayer = -1;
    FExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    return true;
}

TDelivery ExpectedDelivery(const std::string &Message) {
    std::string Text = Message.substr(4);
    Text.resize((Message.size() + 7) / 8 * 8 - 4, ' ');
    return {Message.starts_with("SMS>"), Text};
}

TDecoder::TDecoder() : FReceiver(new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{})) {
    FReceiver->OnReceive = [this](TObject *, bool MessIsSMS, const TRxString &Text) {
        FDeliveries.emplace_back(MessIsSMS, Text);
    };
}

TDecoder::~TDecoder() {
    FReceiver->Free();
}

void TDecoder::Feed(const char *Buffer, DWORD Bytes) {
    TFFSKReceiverFeed::Data(*FReceiver, Buffer, Bytes);
}
