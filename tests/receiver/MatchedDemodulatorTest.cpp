// The matched demodulator on simulated radio channels, at points with a clear margin.
#include "ReceiverProbe.h"
#include "receiver/untMatchedDemodulator.h"
#include "signal/ChannelSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace {

constexpr double Amplitude = 0.3;
constexpr int Milliseconds = ffsk::SampleRate / 1000;

// A tone driven Drive times beyond full scale and clipped: far enough, a square wave.
TSamples Overdriven(double Hz, double Drive, int Count) {
    TSamples Samples(std::size_t(Count), 0);
    for (std::size_t Index = 0; Index < Samples.size(); ++Index)
        Samples[Index] = std::int16_t(std::clamp(
            Drive * 32767 * std::sin(2 * std::numbers::pi * Hz * double(Index) / ffsk::SampleRate),
            -32768.0, 32767.0));
    return Samples;
}

// How the messages reach the receiver besides the channel: from stations whose levels
// alternate, each after a pause of its own, each carrier dropping with a squelch tail
// of loud noise, a transient before the first.
struct TTraffic {
    int Messages = 12;
    double Levels[2] = {Amplitude, Amplitude}; // of the even and the odd messages
    int Pause = 20000, PauseSpread = 9000;     // samples
    int TailBits = 0;                          // keyed after the last frame
    int SquelchTail = 0;                       // samples
    TSamples Before = {};
};

struct TChannelCase {
    const char *Name;
    TChannelSettings Channel; // its noise is against the weaker level
    TTraffic Traffic = {};
    bool CrossingToo = false; // the zero-crossing demodulator delivers every message too
};

void PrintTo(const TChannelCase &Case, std::ostream *Out) {
    *Out << Case.Name;
}

TChannelSettings Noisy(double Snr, void (*Change)(TChannelSettings &) = nullptr) {
    TChannelSettings Channel;
    Channel.SnrDb = Snr;
    if (Change)
        Change(Channel);
    return Channel;
}

// Messages of 2 or 3 frames, each after a pause of its own and a 32-bit preamble; the
// zero-crossing demodulator hears them too where it can.
class MatchedChannelTest : public testing::TestWithParam<TChannelCase> {
protected:
    static std::vector<std::string> Send(const TChannelCase &Case, TReceiverProbe &Probe) {
        const TTraffic &Traffic = Case.Traffic;
        std::mt19937 Random(42);
        std::vector<std::string> Sent;
        TSamples Clean = Traffic.Before;
        for (int Index = 0; Index < Traffic.Messages; ++Index) {
            std::string Message = Index % 2 ? "SMS>" : "LOC>";
            Message += std::string(12 + Index % 2 * 8, char('A' + Index));
            ffsk::TFFSKEncoder Encoder(Traffic.Levels[Index % 2], 0.5 * Index,
                                       ChannelKeying(Case.Channel));
            Encoder.AddSilence(Traffic.Pause + int(Random() % unsigned(Traffic.PauseSpread)));
            Encoder.AddPreamble(32);
            Encoder.AddMessage(Message);
            Encoder.AddPreamble(Traffic.TailBits);
            Clean.insert(Clean.end(), Encoder.Samples().begin(), Encoder.Samples().end());
            TChannelSettings Burst = Noisy(0);
            Burst.Seed = unsigned(Index);
            const TSamples Tail =
                PassThroughChannel(TSamples(std::size_t(Traffic.SquelchTail)), 0.5, Burst);
            Clean.insert(Clean.end(), Tail.begin(), Tail.end());
            Sent.push_back(Message.substr(4));
        }
        const double Weaker = std::min(Traffic.Levels[0], Traffic.Levels[1]);
        Probe.FeedStream(PassThroughChannel(Clean, Weaker, Case.Channel));
        Probe.FeedQuietBuffers(2);
        return Sent;
    }
    // What Kind delivers of the messages; Sent: what was sent.
    static std::vector<std::string> Received(TDemodulatorKind Kind,
                                             std::vector<std::string> &Sent) {
        TReceiverProbe Probe(true, Kind);
        Sent = Send(GetParam(), Probe);
        std::vector<std::string> Result;
        for (const TEventRecord &Message : Probe.Messages())
            Result.push_back(Message.Text);
        return Result;
    }
};

TEST_P(MatchedChannelTest, DeliversEveryMessageExactly) {
    std::vector<std::string> Sent;
    EXPECT_EQ(Received(TDemodulatorKind::Matched, Sent), Sent);
    if (GetParam().CrossingToo) {
        EXPECT_EQ(Received(TDemodulatorKind::Crossing, Sent), Sent) << "zero-crossing";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Channels, MatchedChannelTest,
    testing::Values(
        TChannelCase{"Clean", {}}, TChannelCase{"WhiteNoise12dB", Noisy(12)},
        TChannelCase{"BandNoise12dB", Noisy(12, [](auto &C) { C.BandLimitedNoise = true; })},
        TChannelCase{"Deemphasis12dB", Noisy(12, [](auto &C) { C.Deemphasis = true; })},
        TChannelCase{"ClockFast1Percent", Noisy(20, [](auto &C) { C.ClockPercent = 1; })},
        TChannelCase{"ClockSlow1Percent", Noisy(20, [](auto &C) { C.ClockPercent = -1; })},
        TChannelCase{"Tones40HzHigh", Noisy(20, [](auto &C) { C.ToneOffsetHz = 40; })},
        TChannelCase{"Twist4dB", Noisy(20, [](auto &C) { C.TwistDb = -4; })},
        TChannelCase{"DcAndHum", Noisy(20, [](auto &C) { C.DcFraction = 0.5, C.HumDb = -6; })},
        // Strong and weak stations answering each other, 40 dB apart, and transients.
        TChannelCase{
            "Levels40dBApart50msOfSilence",
            {},
            {.Levels = {0.9, 0.009}, .Pause = 50 * Milliseconds, .PauseSpread = 1, .TailBits = 8},
            true},
        TChannelCase{
            "Levels40dBApartAMinuteOfSilence",
            {},
            {.Messages = 3, .Levels = {0.9, 0.009}, .Pause = 60000 * Milliseconds, .TailBits = 8},
            true},
        TChannelCase{"Levels30dBApartInNoise",
                     Noisy(15),
                     {.Levels = {0.9, 0.03},
                      .Pause = 50 * Milliseconds,
                      .PauseSpread = 20000,
                      .TailBits = 8}},
        TChannelCase{"SquelchTails",
                     {},
                     {.Levels = {0.9, 0.02},
                      .Pause = 50 * Milliseconds,
                      .PauseSpread = 20000,
                      .TailBits = 8,
                      .SquelchTail = 150 * Milliseconds},
                     true},
        TChannelCase{"AfterAFullScaleSquare",
                     {},
                     {.TailBits = 8, .Before = Overdriven(1200, 1000, 100 * Milliseconds)},
                     true},
        TChannelCase{"AfterAClippedTone",
                     {},
                     {.TailBits = 8, .Before = Overdriven(1500, 3, 200 * Milliseconds)},
                     true}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(MatchedDemodulator, HearsNoFFSKInNoiseOrSilence) {
    TReceiverProbe Probe(true, TDemodulatorKind::Matched);
    TChannelSettings Noise;
    Noise.SnrDb = 0;
    Probe.FeedStream(TSamples(10 * SamplesPerBuffer)); // silence
    Probe.FeedStream(PassThroughChannel(TSamples(50 * SamplesPerBuffer), Amplitude, Noise));
    Probe.FeedQuietBuffers(2);
    EXPECT_TRUE(Probe.Messages().empty());
    const std::string Symbols = Probe.Symbols();
    // One symbol per bit period; silence is all '-', noise hardly ever opens the squelch.
    EXPECT_NEAR(double(Symbols.size()), 62.0 * PeriodsPerBuffer, 0.01 * 62 * PeriodsPerBuffer);
    EXPECT_EQ(Symbols.substr(0, 10 * PeriodsPerBuffer).find_first_not_of('-'), std::string::npos);
    EXPECT_LT(std::count_if(Symbols.begin(), Symbols.end(), [](char S) { return S != '-'; }),
              std::ptrdiff_t(Symbols.size() / 50));
}

// Digital silence is passed over without correlating it, and nothing comes out
// differently for it: messages that end into silence, silence long enough for the
// filter to come to rest, a message that starts within a buffer after it.
TEST(MatchedDemodulator, PassesOverSilenceExactlyAsSampleBySample) {
    TSamples Stream;
    for (int Index = 0; Index < 3; ++Index) {
        ffsk::TFFSKEncoder Encoder(Amplitude, 1.0 + Index);
        Encoder.AddSilence(Index == 1 ? 5 * SamplesPerBuffer + 1234 : 7000);
        Encoder.AddPreamble(32);
        Encoder.AddMessage("SMS>pass over silence");
        Encoder.AddSilence(Index * 3 * SamplesPerBuffer);
        Stream.insert(Stream.end(), Encoder.Samples().begin(), Encoder.Samples().end());
    }
    Stream.resize((Stream.size() / SamplesPerBuffer + 2) * SamplesPerBuffer, 0);
    const std::vector<std::uint8_t> Bytes = PcmBytes(Stream);
    TMatchedDemodulator Fast, Plain;
    for (std::size_t Start = 0; Start < Bytes.size(); Start += 2 * SamplesPerBuffer) {
        const auto &FastPeriods = Fast.Demodulate(Bytes.data() + Start, SamplesPerBuffer);
        ASSERT_EQ(FastPeriods, Plain.DemodulatePlain(Bytes.data() + Start, SamplesPerBuffer))
            << "buffer " << Start / (2 * SamplesPerBuffer);
    }
}

// However the input is cut into buffers, the same periods close at the same samples
// with the same bits: short buffers, long ones, and buffers of odd lengths that end
// inside a window or a stretch of silence.
TEST(MatchedDemodulator, DecodesTheSameWhateverTheBuffers) {
    TChannelSettings Channel;
    Channel.SnrDb = 12;
    TSamples Stream(3 * SamplesPerBuffer);
    ffsk::TFFSKEncoder Encoder(Amplitude, 0.7);
    Encoder.AddPreamble(32);
    Encoder.AddMessage("SMS>whatever the buffers");
    Stream.insert(Stream.end(), Encoder.Samples().begin(), Encoder.Samples().end());
    Stream = PassThroughChannel(Stream, Amplitude, Channel);
    Stream.resize(Stream.size() + 2 * SamplesPerBuffer, 0);
    const std::vector<std::uint8_t> Bytes = PcmBytes(Stream);
    std::vector<std::pair<std::size_t, int>> Expected;
    for (const std::size_t Length : {std::size_t(SamplesPerBuffer), std::size_t(1), std::size_t(37),
                                     std::size_t(4099), Stream.size()}) {
        TMatchedDemodulator Demodulator;
        std::vector<std::pair<std::size_t, int>> Periods; // closing sample, bit
        for (std::size_t Start = 0; Start < Stream.size(); Start += Length) {
            const auto Count = std::uint32_t(std::min(Length, Stream.size() - Start));
            for (const TMatchedPeriod &Period :
                 Demodulator.Demodulate(Bytes.data() + 2 * Start, Count))
                Periods.emplace_back(Start + Period.SampleIndex, Period.Bit);
        }
        if (Expected.empty())
            Expected = Periods;
        EXPECT_EQ(Periods, Expected) << "buffers of " << Length;
    }
    EXPECT_NEAR(double(Expected.size()), double(Stream.size()) / TMatchedDemodulator::SamplesPerBit,
                5);
}

} // namespace
