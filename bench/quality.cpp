// Message success of the zero-crossing and the matched demodulator on simulated radio
// channels, with what theory allows: bench_quality [MESSAGES [MINUTES [ROWS]]].
// Each point decodes MESSAGES messages of 2 to 4 frames (default 240), each after its
// own pause and a 32-bit preamble (zel-encode's), starting at a random phase and sample; a message
// counts when its text comes out exactly. MINUTES (default 5) of each kind of audio
// without FFSK must give no message at all. ROWS: only the rows whose condition holds it.

#include "receiver/untFFSKReceiver.h"
#include "tools/ChannelSimulator.h"
#include "tools/FFSKEncoder.h"
#include "tools/Resampler.h"
#include "tools/SampleSource.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using TSamples = std::vector<std::int16_t>;
constexpr double Amplitude = 0.3;
constexpr int PreambleBits = 32;
constexpr std::size_t BufferSamples = 9600;
constexpr double Success = 0.9; // the success that the noise rows search for
constexpr double BitsPerSecond = 1200.0, NoiseBandwidth = 3000.0;
constexpr TDemodulatorKind Kinds[] = {TDemodulatorKind::Crossing, TDemodulatorKind::Matched};

struct TTraffic {
    TSamples Clean;
    std::vector<std::string> Texts; // as they should be delivered
};

struct TDecoded {
    std::vector<std::string> Texts;
    std::uint64_t Bits = 0;
};

TTraffic MakeTraffic(int Messages, const ffsk::TToneKeying &Keying, std::uint32_t Seed) {
    std::mt19937 Random(Seed);
    std::uniform_int_distribution<int> Frames(2, 4), Character(' ', '~'), Kind(0, 1);
    std::uniform_int_distribution<int> Pause(ffsk::SampleRate * 45 / 100,
                                             ffsk::SampleRate * 7 / 10);
    std::uniform_real_distribution<double> Phase(0.0, 2.0 * std::numbers::pi);
    TTraffic Traffic;
    for (int Index = 0; Index < Messages; ++Index) {
        std::string Message = Kind(Random) ? "SMS>" : "LOC>";
        for (int Count = Frames(Random) * 8 - 4; Count > 0; --Count)
            Message += char(Character(Random));
        ffsk::TFFSKEncoder Encoder(Amplitude, Phase(Random), Keying);
        Encoder.AddSilence(Pause(Random));
        Encoder.AddPreamble(PreambleBits);
        Encoder.AddMessage(Message);
        Traffic.Clean.insert(Traffic.Clean.end(), Encoder.Samples().begin(),
                             Encoder.Samples().end());
        Traffic.Texts.push_back(Message);
    }
    Traffic.Clean.resize(Traffic.Clean.size() + ffsk::SampleRate / 2, 0);
    return Traffic;
}

TDecoded Decode(TSamples Samples, TDemodulatorKind Kind) {
    TDecoded Result;
    auto *Receiver = new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{}, Kind);
    Receiver->OnReceive = [&](TObject *, bool MessIsSMS, const TRxString &Text) {
        Result.Texts.push_back((MessIsSMS ? "SMS>" : "LOC>") + Text);
    };
    Receiver->OnBitReceive = [&](TObject *, const TRxString &Bits) {
        Result.Bits += Bits.back() != '-';
    };
    Samples.resize((Samples.size() / BufferSamples + 3) * BufferSamples, 0);
    for (std::size_t Start = 0; Start < Samples.size(); Start += BufferSamples)
        TFFSKReceiverFeed::Data(*Receiver, Samples.data() + Start, BufferSamples * 2);
    Receiver->Free();
    return Result;
}

// The share of sent messages that come out exactly, in order.
double SuccessRate(const TTraffic &Traffic, const TSamples &Received, TDemodulatorKind Kind) {
    const TDecoded Decoded = Decode(Received, Kind);
    std::size_t Next = 0, Good = 0;
    for (const std::string &Text : Decoded.Texts)
        for (std::size_t Sent = Next; Sent < Traffic.Texts.size() && Sent < Next + 4; ++Sent)
            if (Traffic.Texts[Sent] == Text) {
                ++Good, Next = Sent + 1;
                break;
            }
    return double(Good) / double(Traffic.Texts.size());
}

std::string Percent(double Rate) {
    char Text[16];
    std::snprintf(Text, sizeof Text, Rate == 1.0 ? "%.0f %%" : "%.1f %%", 100.0 * Rate);
    return Text;
}

// The lowest SNR (to 0.2 dB) with at least 90 % success, searched from -4 to 40 dB.
std::string SnrForSuccess(const TTraffic &Traffic, TChannelSettings Channel,
                          TDemodulatorKind Kind) {
    auto RateAt = [&](double Snr) {
        Channel.SnrDb = Snr;
        return SuccessRate(Traffic, PassThroughChannel(Traffic.Clean, Amplitude, Channel), Kind);
    };
    double Low = -4.0, High = 40.0;
    if (const double Top = RateAt(High); Top < Success)
        return "> 40 dB (" + Percent(Top) + " at 40)";
    while (High - Low > 0.2)
        (RateAt((Low + High) / 2) >= Success ? High : Low) = (Low + High) / 2;
    char Text[16];
    std::snprintf(Text, sizeof Text, "%.1f dB", High);
    return Text;
}

// Message success with bits of Bits each, Bit the chance of a wrong bit.
double MessageSuccess(double BitError) {
    double Sum = 0;
    for (int Frames = 2; Frames <= 4; ++Frames)
        Sum += std::pow(1.0 - BitError, 80.0 * Frames) / 3.0;
    return Sum;
}

// Theory: the SNR in 3 kHz at which non-coherent orthogonal FSK, and coherent MSK,
// reach 90 % message success.
std::string TheorySnr() {
    auto Solve = [](const std::function<double(double)> &BitError) {
        double Low = -10, High = 30;
        for (int Step = 0; Step < 60; ++Step) {
            const double Snr = (Low + High) / 2;
            const double EbN0 = std::pow(10.0, Snr / 10.0) * NoiseBandwidth / BitsPerSecond;
            (MessageSuccess(BitError(EbN0)) >= Success ? High : Low) = Snr;
        }
        return High;
    };
    const double NonCoherent = Solve([](double EbN0) { return 0.5 * std::exp(-EbN0 / 2.0); });
    const double Coherent = Solve([](double EbN0) { return 0.5 * std::erfc(std::sqrt(EbN0)); });
    char Text[64];
    std::snprintf(Text, sizeof Text, "%.1f dB (coherent MSK %.1f)", NonCoherent, Coherent);
    return Text;
}

TSamples ThroughRecording(const TSamples &Samples, double RecordingRate) {
    std::vector<float> Floats(Samples.begin(), Samples.end()), Recorded, Back;
    for (float &Value : Floats)
        Value /= 32768.0f;
    TResampler Down(ReceiverSampleRate, RecordingRate);
    Down.Process(Floats, Recorded);
    Down.Finish(Recorded);
    for (float &Value : Recorded) // stored as 16-bit samples
        Value = float(FloatToSample16(Value)) / 32768.0f;
    TResampler Up(RecordingRate, ReceiverSampleRate);
    Up.Process(Recorded, Back);
    Up.Finish(Back);
    TSamples Result;
    for (float Value : Back)
        Result.push_back(FloatToSample16(Value));
    return Result;
}

std::string RowFilter;

void PrintRow(const std::string &Condition, const std::string &Crossing, const std::string &Matched,
              const std::string &Theory) {
    std::printf("| %s | %s | %s | %s |\n", Condition.c_str(), Crossing.c_str(), Matched.c_str(),
                Theory.c_str());
    std::fflush(stdout);
}

// One row: the same cell for each demodulator.
void Row(const std::string &Condition, const std::function<std::string(TDemodulatorKind)> &Cell,
         const std::string &Theory) {
    if (Condition.find(RowFilter) == std::string::npos)
        return;
    PrintRow(Condition, Cell(Kinds[0]), Cell(Kinds[1]), Theory);
}

void SuccessRow(const std::string &Condition, int Messages,
                const std::vector<TChannelSettings> &Channels, double Rate = 0) {
    Row(
        Condition,
        [&](TDemodulatorKind Kind) {
            std::string Cell;
            for (const TChannelSettings &Channel : Channels) {
                const TTraffic Traffic = MakeTraffic(Messages, ChannelKeying(Channel), 7);
                TSamples Received = PassThroughChannel(Traffic.Clean, Amplitude, Channel);
                if (Rate > 0)
                    Received = ThroughRecording(Received, Rate);
                Cell += (Cell.empty() ? "" : " / ") + Percent(SuccessRate(Traffic, Received, Kind));
            }
            return Cell;
        },
        "100 %");
}

// Audio without FFSK, shaped like speech: a voice's pulses at a wandering pitch through
// two wandering formants, in syllables.
TSamples SpeechLike(std::size_t Count, std::mt19937 &Random) {
    std::uniform_real_distribution<double> Uniform(0.0, 1.0);
    TSamples Result(Count);
    double Pitch = 140, Formant[2] = {500, 1500}, Phase = 0, State[2][2] = {};
    for (std::size_t Index = 0; Index < Count; ++Index) {
        if (Index % 480 == 0) { // every 10 ms the voice moves on
            Pitch = std::clamp(Pitch + 20 * (Uniform(Random) - 0.5), 80.0, 260.0);
            Formant[0] = std::clamp(Formant[0] + 120 * (Uniform(Random) - 0.5), 250.0, 900.0);
            Formant[1] = std::clamp(Formant[1] + 300 * (Uniform(Random) - 0.5), 800.0, 2600.0);
        }
        Phase += Pitch / ffsk::SampleRate;
        double Value = Phase >= 1.0 ? 1.0 : 0.02 * (Uniform(Random) - 0.5);
        Phase -= std::floor(Phase);
        for (int Which = 0; Which < 2; ++Which) { // a two-pole resonator per formant
            const double Radius = 0.995,
                         Angle = 2 * std::numbers::pi * Formant[Which] / ffsk::SampleRate;
            const double Out = Value + 2 * Radius * std::cos(Angle) * State[Which][0] -
                               Radius * Radius * State[Which][1];
            State[Which][1] = State[Which][0], State[Which][0] = Out;
            Value = Out;
        }
        const double Syllable = std::sin(std::numbers::pi * double(Index % 12000) / 12000.0);
        Result[Index] =
            FloatToSample16(float(std::clamp(Value * 20 * Syllable, -30000.0, 30000.0) / 32768.0));
    }
    return Result;
}

TSamples PinkNoise(std::size_t Count, std::mt19937 &Random) {
    std::normal_distribution<double> Gaussian;
    TSamples Result(Count);
    double B[3] = {};
    for (std::size_t Index = 0; Index < Count; ++Index) {
        const double White = Gaussian(Random); // three poles spread over the audio band
        B[0] = 0.99765 * B[0] + White * 0.0990460;
        B[1] = 0.96300 * B[1] + White * 0.2965164;
        B[2] = 0.57000 * B[2] + White * 1.0526913;
        Result[Index] = FloatToSample16(float((B[0] + B[1] + B[2] + White * 0.1848) * 0.05));
    }
    return Result;
}

void NoFrameRow(const std::string &Condition, const TSamples &Audio) {
    Row(
        Condition,
        [&](TDemodulatorKind Kind) {
            const TDecoded Decoded = Decode(Audio, Kind);
            return std::to_string(Decoded.Texts.size()) + " messages, " +
                   std::to_string(Decoded.Bits) + " bits";
        },
        "0 messages");
}

TChannelSettings AtSnr(double Snr, std::function<void(TChannelSettings &)> Change = {}) {
    TChannelSettings Channel;
    Channel.SnrDb = Snr;
    if (Change)
        Change(Channel);
    return Channel;
}

} // namespace

int main(int ArgCount, char **Args) {
    const int Messages = ArgCount > 1 ? std::atoi(Args[1]) : 240;
    const double Minutes = ArgCount > 2 ? std::atof(Args[2]) : 5.0;
    RowFilter = ArgCount > 3 ? Args[3] : "";
    if (Messages < 1 || !(Minutes >= 0)) {
        std::fputs("usage: bench_quality [MESSAGES [MINUTES [ROWS]]]\n", stderr);
        return 2;
    }
    std::printf("%d messages of 2-4 frames per point, 32-bit preamble; SNR in 3 kHz\n\n", Messages);
    PrintRow("condition", "zero-crossing", "matched", "theory");
    PrintRow("---", "---", "---", "---");
    SuccessRow("clean, random phase and timing, carrier ends after the last frame", Messages,
               {TChannelSettings{}});

    const TTraffic Traffic = MakeTraffic(Messages, {}, 11);
    const std::string Theory = TheorySnr();
    Row(
        "white noise, SNR for 90 %",
        [&](TDemodulatorKind Kind) { return SnrForSuccess(Traffic, {}, Kind); }, Theory);
    TChannelSettings Band;
    Band.BandLimitedNoise = true;
    Row(
        "band-limited noise 300-3 000 Hz, SNR for 90 %",
        [&](TDemodulatorKind Kind) { return SnrForSuccess(Traffic, Band, Kind); }, "");
    TChannelSettings Fm;
    Fm.Deemphasis = true;
    Row(
        "FM receiver audio (de-emphasis), SNR for 90 %",
        [&](TDemodulatorKind Kind) { return SnrForSuccess(Traffic, Fm, Kind); }, "");

    SuccessRow("sample clock -0.2 % / +0.2 % (clean)", Messages,
               {AtSnr(100, [](auto &C) { C.ClockPercent = -0.2; }),
                AtSnr(100, [](auto &C) { C.ClockPercent = 0.2; })});
    SuccessRow("at 14 dB: sample clock -2 % / +2 %", Messages,
               {AtSnr(14, [](auto &C) { C.ClockPercent = -2; }),
                AtSnr(14, [](auto &C) { C.ClockPercent = 2; })});
    SuccessRow("at 14 dB: both tones -50 Hz / +50 Hz", Messages,
               {AtSnr(14, [](auto &C) { C.ToneOffsetHz = -50; }),
                AtSnr(14, [](auto &C) { C.ToneOffsetHz = 50; })});
    SuccessRow(
        "at 14 dB: shift -50 Hz / +50 Hz", Messages,
        {AtSnr(14, [](auto &C) { C.ShiftHz = -50; }), AtSnr(14, [](auto &C) { C.ShiftHz = 50; })});
    SuccessRow(
        "at 14 dB: twist -6 dB / +6 dB", Messages,
        {AtSnr(14, [](auto &C) { C.TwistDb = -6; }), AtSnr(14, [](auto &C) { C.TwistDb = 6; })});
    SuccessRow(
        "at 14 dB: DC 0.7 x tone / 50 Hz hum -3 dB", Messages,
        {AtSnr(14, [](auto &C) { C.DcFraction = 0.7; }), AtSnr(14, [](auto &C) { C.HumDb = -3; })});
    SuccessRow("recording at 44 100 Hz (clean)", Messages * 4, {TChannelSettings{}}, 44100);
    SuccessRow("recording at 22 050 Hz (clean)", Messages * 4, {TChannelSettings{}}, 22050);

    const auto Length = std::size_t(Minutes * 60 * ffsk::SampleRate);
    std::mt19937 Random(5);
    const std::string For = " (" + std::to_string(int(Minutes * 60)) + " s)";
    TChannelSettings White;
    White.SnrDb = 0;
    NoFrameRow("white noise" + For, PassThroughChannel(TSamples(Length), Amplitude, White));
    NoFrameRow("pink noise" + For, PinkNoise(Length, Random));
    NoFrameRow("silence" + For, TSamples(Length));
    NoFrameRow("speech-like audio" + For, SpeechLike(Length, Random));
    return 0;
}
