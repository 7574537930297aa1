// The sound input with nothing to record from: ALSA's "default" goes to a sound server
// that does not run, and the machine has no sound card. Both ALSA and the program's own
// choice of input say so, in our words, and print nothing.
#include "WaveInProbe.h"

#include "platform/AlsaWaveIn.h"
#include "platform/PreferredWaveIn.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

struct TServiceCase {
    const char *Name;
    std::function<std::unique_ptr<platform::IWaveInService>()> Create;
};

const TServiceCase ServiceCases[] = {
    {"Alsa", [] { return std::make_unique<platform::TAlsaWaveInService>(); }},
    {"Preferred",
     [] {
         return platform::CreatePreferredWaveInService(platform::TSoundServerLoop::OwnThreads());
     }},
};

class WithoutSoundServer : public testing::TestWithParam<TServiceCase> {};

} // namespace

TEST_P(WithoutSoundServer, ReportsThatNoSoundInputWasFoundAndPrintsNothing) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const std::unique_ptr<platform::IWaveInService> Created = GetParam().Create();
    platform::IWaveInService &Service = *Created;
    const WAVEFORMATEX Format = Mono16bit48000Hz();
    const MMRESULT Query = Service.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY);
    TRecordingSession Session(Service);
    const MMRESULT Open = Session.Open();
    WAVEINCAPSA Caps{};
    const MMRESULT CapsResult = Service.GetDevCaps(WAVE_MAPPER, &Caps, sizeof Caps);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(Query, MMSYSERR_NODRIVER);
    EXPECT_EQ(Open, MMSYSERR_NODRIVER);
    EXPECT_EQ(CapsResult, MMSYSERR_NODRIVER);
    char Text[MAXERRORLENGTH];
    ASSERT_EQ(Service.GetErrorText(Query, Text, sizeof Text), MMSYSERR_NOERROR);
    EXPECT_STREQ(Text, "No sound input was found.");
}

INSTANTIATE_TEST_SUITE_P(Services, WithoutSoundServer, testing::ValuesIn(ServiceCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });
