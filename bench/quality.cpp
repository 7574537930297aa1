// Message success of the zero-crossing and the matched demodulator on simulated radio
// channels, with what theory allows: bench_quality [MESSAGES [MINUTES [ROWS]]].
// Each point decodes MESSAGES messages of 2 to 4 frames (default 240), each after its
// own pause and a 32-bit preamble (zel-encode's), starting at a random phase and sample; a message
// counts when its text comes out exactly. A radio net of a dozen stations sends 2.5 times
// MESSAGES, and must deliver them all and nothing else. MINUTES (default 5) of each kind of
// audio without FFSK must give no message at all. ROWS: only the rows whose condition holds it.
// bench_quality --report [MESSAGES [ROWS]]: instead, the error of each field of the signal
// report against what the channel made, per condition and demodulator.

#include "receiver/SignalReport.h"
#include "receiver/untFFSKReceiver.h"
#include "recordings/Resampler.h"
#include "recordings/SampleSource.h"
#include "signal/ChannelSimulator.h"
#include "signal/FFSKEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
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
    std::vector<std::size_t> Ends;  // the sample after each message's last
};

struct TDecoded {
    std::vector<std::string> Texts;
    std::vector<std::uint64_t> Positions;              // the sample count at each delivery
    std::vector<std::optional<TSignalReport>> Reports; // when asked for
    std::vector<bool> Headed;                          // the header was received: the text is whole
    std::uint64_t Bits = 0;
};

// Fills the next buffer of audio, so that hours of it need no more memory than one.
using TAudioSource = std::function<void(std::int16_t *Buffer)>;

// A message of 2 to 4 whole frames of printable characters.
std::string RandomMessage(std::mt19937 &Random) {
    std::uniform_int_distribution<int> Frames(2, 4), Character(' ', '~'), Kind(0, 1);
    std::string Message = Kind(Random) ? "SMS>" : "LOC>";
    for (int Count = Frames(Random) * 8 - 4; Count > 0; --Count)
        Message += char(Character(Random));
    return Message;
}

double RandomPhase(std::mt19937 &Random) {
    return std::uniform_real_distribution<double>(0.0, 2.0 * std::numbers::pi)(Random);
}

TTraffic MakeTraffic(int Messages, const ffsk::TToneKeying &Keying, std::uint32_t Seed,
                     double Level = Amplitude) {
    std::mt19937 Random(Seed);
    std::uniform_int_distribution<int> Pause(ffsk::SampleRate * 45 / 100,
                                             ffsk::SampleRate * 7 / 10);
    TTraffic Traffic;
    for (int Index = 0; Index < Messages; ++Index) {
        const std::string Message = RandomMessage(Random);
        ffsk::TFFSKEncoder Encoder(Level, RandomPhase(Random), Keying);
        Encoder.AddSilence(Pause(Random));
        Encoder.AddPreamble(PreambleBits);
        Encoder.AddMessage(Message);
        Traffic.Clean.insert(Traffic.Clean.end(), Encoder.Samples().begin(),
                             Encoder.Samples().end());
        Traffic.Texts.push_back(Message);
        Traffic.Ends.push_back(Traffic.Clean.size());
    }
    Traffic.Clean.resize(Traffic.Clean.size() + ffsk::SampleRate / 2, 0);
    return Traffic;
}

TDecoded Decode(std::size_t Buffers, const TAudioSource &Source, TDemodulatorKind Kind,
                bool Reporting = false) {
    TDecoded Result;
    auto *Receiver = new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{}, Kind);
    Receiver->SetReporting(Reporting);
    Receiver->OnReceive = [&](TObject *, bool MessIsSMS, const TRxString &Text) {
        Result.Texts.push_back((MessIsSMS ? "SMS>" : "LOC>") + Text);
        Result.Positions.push_back(TFFSKReceiverFeed::SamplePosition(*Receiver));
        Result.Reports.push_back(Receiver->MessageReport());
        Result.Headed.push_back(Receiver->MessageHeaded());
    };
    Receiver->OnBitReceive = [&](TObject *, const TRxString &Bits) {
        Result.Bits += Bits.back() != '-';
    };
    TSamples Buffer(BufferSamples);
    for (std::size_t Index = 0; Index < Buffers; ++Index) {
        Source(Buffer.data());
        TFFSKReceiverFeed::Data(*Receiver, Buffer.data(), BufferSamples * 2);
    }
    // Two buffers of silence deliver a message still pending: every frame is counted.
    std::fill(Buffer.begin(), Buffer.end(), 0);
    for (int Quiet = 0; Quiet < 2; ++Quiet)
        TFFSKReceiverFeed::Data(*Receiver, Buffer.data(), BufferSamples * 2);
    Receiver->Free();
    return Result;
}

// Samples, then silence for the rest of their last buffer.
TDecoded Decode(const TSamples &Samples, TDemodulatorKind Kind, bool Reporting = false) {
    std::size_t Next = 0;
    return Decode(
        Samples.size() / BufferSamples + 1,
        [&](std::int16_t *Buffer) {
            const std::size_t Count = std::min(BufferSamples, Samples.size() - Next);
            std::copy_n(Samples.begin() + std::ptrdiff_t(Next), Count, Buffer);
            std::fill(Buffer + Count, Buffer + BufferSamples, 0);
            Next += Count;
        },
        Kind, Reporting);
}

// The share of sent messages that come out exactly. A delivery belongs to the last
// message that ended before it: a message is delivered within 400 ms of its end, and
// the next one ends later than that.
// The sent message whose exact text a delivery is, if any.
std::optional<std::size_t> SentMessage(const TTraffic &Traffic, const TDecoded &Decoded,
                                       std::size_t Delivery) {
    const auto After =
        std::upper_bound(Traffic.Ends.begin(), Traffic.Ends.end(), Decoded.Positions[Delivery]);
    if (After == Traffic.Ends.begin())
        return std::nullopt;
    const auto Sent = std::size_t(After - Traffic.Ends.begin() - 1);
    if (Traffic.Texts[Sent] != Decoded.Texts[Delivery])
        return std::nullopt;
    return Sent;
}

double SuccessRate(const TTraffic &Traffic, const TSamples &Received, TDemodulatorKind Kind) {
    const TDecoded Decoded = Decode(Received, Kind);
    std::vector<bool> Good(Traffic.Texts.size());
    for (std::size_t Index = 0; Index < Decoded.Texts.size(); ++Index)
        if (const auto Sent = SentMessage(Traffic, Decoded, Index))
            Good[*Sent] = true;
    return double(std::count(Good.begin(), Good.end(), true)) / double(Good.size());
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

// What a receiver gets back from a 16-bit recording of Samples made at RecordingRate,
// resampled a second at a time so that long traffic needs little memory.
TSamples ThroughRecording(const TSamples &Samples, double RecordingRate) {
    TResampler Down(ReceiverSampleRate, RecordingRate), Up(RecordingRate, ReceiverSampleRate);
    TSamples Result;
    std::vector<float> Chunk, Recorded, Back;
    auto PlayBack = [&](bool Last) {
        for (float &Value : Recorded) // stored as 16-bit samples
            Value = float(FloatToSample16(Value)) / 32768.0f;
        Up.Process(Recorded, Back);
        if (Last)
            Up.Finish(Back);
        for (float Value : Back)
            Result.push_back(FloatToSample16(Value));
        Recorded.clear(), Back.clear();
    };
    for (std::size_t Start = 0; Start < Samples.size(); Start += ffsk::SampleRate) {
        const std::size_t End = std::min(Samples.size(), Start + ffsk::SampleRate);
        Chunk.assign(Samples.begin() + std::ptrdiff_t(Start),
                     Samples.begin() + std::ptrdiff_t(End));
        for (float &Value : Chunk)
            Value /= 32768.0f;
        Down.Process(Chunk, Recorded);
        PlayBack(false);
    }
    Down.Finish(Recorded);
    PlayBack(true);
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
                TSamples Received = Channel == TChannelSettings{}
                                        ? Traffic.Clean // the channel leaves it as it is
                                        : PassThroughChannel(Traffic.Clean, Amplitude, Channel);
                if (Rate > 0)
                    Received = ThroughRecording(Received, Rate);
                Cell += (Cell.empty() ? "" : " / ") + Percent(SuccessRate(Traffic, Received, Kind));
            }
            return Cell;
        },
        "100 %");
}

// A radio net: a dozen stations, each with its own level, tuning, sample clock, audio
// path and SNR, keying up at random, a stronger and a weaker one answering each other.
// Between them the squelch is shut (a burst of loud noise as the carrier drops, then
// silence) or open (steady noise). Noise is a radio's, 300 to 3 000 Hz.
constexpr int NetStations = 12, TailBits = 8; // transmitters key a tail, as zel-encode does

struct TStation {
    double Level; // of the tones, a fraction of full scale
    TChannelSettings Channel;
};

struct TNet {
    TSamples Received;
    std::vector<std::string> Texts; // sent, each once
};

double FromDecibels(double Db) {
    return std::pow(10.0, Db / 20.0);
}

// Levels evenly from -35 to -3 dBFS, weakest first.
std::vector<TStation> MakeStations(std::mt19937 &Random) {
    std::uniform_real_distribution<double> Offset(-30, 30), Clock(-0.3, 0.3), Snr(12, 30);
    std::vector<TStation> Stations;
    for (int Index = 0; Index < NetStations; ++Index) {
        TStation Station{FromDecibels(-35.0 + 32.0 * Index / (NetStations - 1)), {}};
        Station.Channel.SnrDb = Snr(Random);
        Station.Channel.BandLimitedNoise = true;
        Station.Channel.ToneOffsetHz = Offset(Random);
        Station.Channel.ClockPercent = Clock(Random);
        Station.Channel.Deemphasis = Random() % 2 != 0;
        Stations.push_back(Station);
    }
    return Stations;
}

// Noise as loud as tones of the given level.
TSamples NetNoise(std::size_t Count, double Level, std::uint32_t Seed) {
    TChannelSettings Channel;
    Channel.SnrDb = 0.0;
    Channel.BandLimitedNoise = true;
    Channel.Seed = Seed;
    return PassThroughChannel(TSamples(Count), Level, Channel);
}

// 50 ms to 5 s, as often under half a second as over it.
TSamples NetPause(std::mt19937 &Random, std::uint32_t Seed) {
    std::uniform_real_distribution<double> Uniform;
    const auto Count = std::size_t(0.05 * std::pow(100.0, Uniform(Random)) * ffsk::SampleRate);
    if (Random() % 2) // open: -40 to -20 dBFS
        return NetNoise(Count, FromDecibels(-40.0 + 20.0 * Uniform(Random)), Seed);
    // Shut: a tail of 100 to 250 ms, -12 to -3 dBFS.
    const auto Tail = std::size_t((0.1 + 0.15 * Uniform(Random)) * ffsk::SampleRate);
    TSamples Pause =
        NetNoise(std::min(Count, Tail), FromDecibels(-12.0 + 9.0 * Uniform(Random)), Seed);
    Pause.resize(Count, 0);
    return Pause;
}

TNet MakeNet(int Messages, std::uint32_t Seed) {
    std::mt19937 Random(Seed);
    const std::vector<TStation> Stations = MakeStations(Random);
    TNet Net;
    for (int Index = 0; Index < Messages; ++Index) {
        const TSamples Pause = NetPause(Random, Seed + 2 * std::uint32_t(Index));
        Net.Received.insert(Net.Received.end(), Pause.begin(), Pause.end());
        // The weaker and the stronger half take turns.
        const TStation &Station =
            Stations[std::size_t(Index % 2 * NetStations / 2) + Random() % (NetStations / 2)];
        Net.Texts.push_back(RandomMessage(Random));
        ffsk::TFFSKEncoder Encoder(Station.Level, RandomPhase(Random),
                                   ChannelKeying(Station.Channel));
        Encoder.AddPreamble(PreambleBits);
        Encoder.AddMessage(Net.Texts.back());
        Encoder.AddPreamble(TailBits);
        TChannelSettings Channel = Station.Channel;
        Channel.Seed = Seed + 2 * std::uint32_t(Index) + 1;
        const TSamples Sent = PassThroughChannel(Encoder.Samples(), Station.Level, Channel);
        Net.Received.insert(Net.Received.end(), Sent.begin(), Sent.end());
    }
    return Net;
}

// Messages delivered of those sent, and messages delivered that were never sent.
std::string NetCell(const TNet &Net, TDemodulatorKind Kind) {
    std::vector<std::string> Decoded = Decode(Net.Received, Kind).Texts, Sent = Net.Texts;
    std::sort(Decoded.begin(), Decoded.end());
    std::sort(Sent.begin(), Sent.end());
    const auto Delivered = std::count_if(Sent.begin(), Sent.end(), [&](const std::string &Text) {
        return std::binary_search(Decoded.begin(), Decoded.end(), Text);
    });
    const auto False = std::count_if(Decoded.begin(), Decoded.end(), [&](const std::string &Text) {
        return !std::binary_search(Sent.begin(), Sent.end(), Text);
    });
    return std::to_string(Delivered) + " of " + std::to_string(Sent.size()) + ", " +
           std::to_string(False) + " false";
}

// Audio without FFSK, shaped like speech: a voice's pulses at a wandering pitch through
// two wandering formants, in syllables.
TAudioSource SpeechLike(std::uint32_t Seed) {
    struct TVoice {
        explicit TVoice(std::uint32_t Seed) : Random(Seed) {}
        std::mt19937 Random;
        std::uniform_real_distribution<double> Uniform{0.0, 1.0};
        double Pitch = 140, Formant[2] = {500, 1500}, Phase = 0, State[2][2] = {};
        std::size_t Index = 0;
    };
    return [Voice = std::make_shared<TVoice>(Seed)](std::int16_t *Buffer) {
        TVoice &V = *Voice;
        for (std::size_t Count = 0; Count < BufferSamples; ++Count, ++V.Index) {
            if (V.Index % 480 == 0) { // every 10 ms the voice moves on
                V.Pitch = std::clamp(V.Pitch + 20 * (V.Uniform(V.Random) - 0.5), 80.0, 260.0);
                V.Formant[0] =
                    std::clamp(V.Formant[0] + 120 * (V.Uniform(V.Random) - 0.5), 250.0, 900.0);
                V.Formant[1] =
                    std::clamp(V.Formant[1] + 300 * (V.Uniform(V.Random) - 0.5), 800.0, 2600.0);
            }
            V.Phase += V.Pitch / ffsk::SampleRate;
            double Value = V.Phase >= 1.0 ? 1.0 : 0.02 * (V.Uniform(V.Random) - 0.5);
            V.Phase -= std::floor(V.Phase);
            for (int Which = 0; Which < 2; ++Which) { // a two-pole resonator per formant
                const double Radius = 0.995,
                             Angle = 2 * std::numbers::pi * V.Formant[Which] / ffsk::SampleRate;
                double(&State)[2] = V.State[Which];
                const double Out =
                    Value + 2 * Radius * std::cos(Angle) * State[0] - Radius * Radius * State[1];
                State[1] = State[0], State[0] = Out;
                Value = Out;
            }
            const double Syllable = std::sin(std::numbers::pi * double(V.Index % 12000) / 12000.0);
            Buffer[Count] = FloatToSample16(
                float(std::clamp(Value * 20 * Syllable, -30000.0, 30000.0) / 32768.0));
        }
    };
}

TAudioSource PinkNoise(std::uint32_t Seed) {
    struct TPink {
        explicit TPink(std::uint32_t Seed) : Random(Seed) {}
        std::mt19937 Random;
        std::normal_distribution<double> Gaussian;
        double B[3] = {};
    };
    return [Pink = std::make_shared<TPink>(Seed)](std::int16_t *Buffer) {
        TPink &P = *Pink;
        for (std::size_t Count = 0; Count < BufferSamples; ++Count) {
            const double White = P.Gaussian(P.Random); // three poles spread over the audio band
            P.B[0] = 0.99765 * P.B[0] + White * 0.0990460;
            P.B[1] = 0.96300 * P.B[1] + White * 0.2965164;
            P.B[2] = 0.57000 * P.B[2] + White * 1.0526913;
            Buffer[Count] =
                FloatToSample16(float((P.B[0] + P.B[1] + P.B[2] + White * 0.1848) * 0.05));
        }
    };
}

// White noise as loud as the tones at 0 dB SNR, each buffer from a seed of its own.
TAudioSource WhiteNoise(std::uint32_t Seed) {
    TChannelSettings Channel;
    Channel.SnrDb = 0.0;
    Channel.Seed = Seed;
    return [Channel](std::int16_t *Buffer) mutable {
        const TSamples Noise = PassThroughChannel(TSamples(BufferSamples), Amplitude, Channel);
        std::copy(Noise.begin(), Noise.end(), Buffer);
        ++Channel.Seed;
    };
}

TAudioSource Silence(std::uint32_t) {
    return [](std::int16_t *Buffer) { std::fill_n(Buffer, BufferSamples, 0); };
}

// Each demodulator hears the same audio: a source made afresh from the same seed.
void NoFrameRow(const std::string &Condition, std::size_t Buffers,
                TAudioSource (*MakeSource)(std::uint32_t)) {
    Row(
        Condition,
        [&](TDemodulatorKind Kind) {
            const TDecoded Decoded = Decode(Buffers, MakeSource(5), Kind);
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

// The signal report held against what the channel made of the tones.
struct TReportTruth {
    double LevelDbfs;
    std::optional<double> SnrDb; // none without noise: the report should give a lower bound
    double OffsetHz, ShiftHz, ClockPpm;
};

// A tone's amplitude, as a fraction of full scale, after the channel's filter (the FM
// de-emphasis, if any), measured on the second half of a second of it.
double FilteredAmplitude(double Hz, double Level, bool Deemphasis) {
    TChannelSettings Filter;
    Filter.Deemphasis = Deemphasis;
    TSamples Tone(ffsk::SampleRate);
    for (std::size_t Index = 0; Index < Tone.size(); ++Index)
        Tone[Index] = std::int16_t(
            std::lround(Level * 32767 *
                        std::sin(2 * std::numbers::pi * Hz * double(Index) / ffsk::SampleRate)));
    const TSamples Out = PassThroughChannel(Tone, Level, Filter);
    double Power = 0;
    for (std::size_t Index = Out.size() / 2; Index < Out.size(); ++Index)
        Power += double(Out[Index]) * Out[Index];
    return std::sqrt(2 * Power / double(Out.size() / 2)) / 32768;
}

TReportTruth TruthOf(const TChannelSettings &Channel, double Level) {
    const ffsk::TToneKeying Keying = ChannelKeying(Channel);
    const double Zero = FilteredAmplitude(Keying.ZeroHz, Level, Channel.Deemphasis);
    const double One = FilteredAmplitude(Keying.OneHz, Level, Channel.Deemphasis) * Keying.OneGain;
    const double Tone = std::sqrt((Zero * Zero + One * One) / 2);
    TReportTruth Truth{20 * std::log10(Tone), std::nullopt,
                       (Keying.ZeroHz - 1200 + Keying.OneHz - 1800) / 2,
                       Keying.OneHz - Keying.ZeroHz, Channel.ClockPercent * 1e4};
    if (Channel.SnrDb) // against the tones as they arrive
        Truth.SnrDb = *Channel.SnrDb + 20 * std::log10(Tone / Level);
    return Truth;
}

// Signed errors of one field: their mean, and the one furthest from zero.
class TErrors {
public:
    void Add(double Error) {
        FSum += Error;
        ++FCount;
        if (std::abs(Error) > std::abs(FWorst))
            FWorst = Error;
    }
    std::string Cell(const char *Format) const {
        char Text[48];
        std::snprintf(Text, sizeof Text, Format, FCount ? FSum / FCount : 0.0, FWorst);
        return Text;
    }

private:
    double FSum = 0, FWorst = 0;
    int FCount = 0;
};

constexpr double SnrCeilingDb = 30;

// A lower bound is wrong by as much as the truth lies under it; without noise a
// measured SNR is wrong by as much as it lies under the ceiling.
double SnrError(const TSignalReport &Report, const std::optional<double> &Truth) {
    if (Report.SnrLowerBound)
        return Truth ? std::max(0.0, SnrCeilingDb - *Truth) : 0.0;
    return Truth ? Report.SnrDb - *Truth : std::min(0.0, Report.SnrDb - SnrCeilingDb);
}

// Whether samples of each message's frames reached full scale.
std::vector<bool> ClippedMessages(const TTraffic &Traffic, const TSamples &Received,
                                  const TChannelSettings &Channel) {
    std::vector<bool> Clipped;
    const double BitSamples = ChannelKeying(Channel).SamplesPerBit;
    for (std::size_t Index = 0; Index < Traffic.Texts.size(); ++Index) {
        const std::size_t End = Traffic.Ends[Index];
        const auto Frames = double(ffsk::MessageFrames(Traffic.Texts[Index]).size());
        const auto Start = End - std::size_t(Frames * 80 * BitSamples);
        Clipped.push_back(std::any_of(
            Received.begin() + std::ptrdiff_t(Start), Received.begin() + std::ptrdiff_t(End),
            [](std::int16_t Value) { return Value == INT16_MIN || Value == INT16_MAX; }));
    }
    return Clipped;
}

struct TReportCondition {
    std::string Name;
    double Level; // of the tones, a fraction of full scale
    TChannelSettings Channel;
};

std::vector<TReportCondition> ReportConditions() {
    std::vector<TReportCondition> Conditions;
    const auto Add = [&](std::string Name, double Level,
                         std::function<void(TChannelSettings &)> Change) {
        TChannelSettings Channel;
        Change(Channel);
        Conditions.push_back({std::move(Name), Level, Channel});
    };
    Add("clean", Amplitude, [](auto &) {});
    for (const double Snr : {6.0, 12.0, 20.0, 30.0}) {
        const std::string At = " " + std::to_string(int(Snr)) + " dB";
        Add("white noise" + At, Amplitude, [&](auto &C) { C.SnrDb = Snr; });
        Add("band-limited noise" + At, Amplitude, [&](auto &C) {
            C.SnrDb = Snr;
            C.BandLimitedNoise = true;
        });
        Add("FM receiver audio" + At, Amplitude, [&](auto &C) {
            C.SnrDb = Snr;
            C.Deemphasis = true;
        });
    }
    Add("-40 dBFS, 20 dB", 0.01, [](auto &C) { C.SnrDb = 20; });
    Add("-1 dBFS, 20 dB (clips)", 0.89, [](auto &C) { C.SnrDb = 20; });
    for (const double Offset : {-50.0, 50.0})
        Add("tones " + std::to_string(int(Offset)) + " Hz, 20 dB", Amplitude, [&](auto &C) {
            C.SnrDb = 20;
            C.ToneOffsetHz = Offset;
        });
    Add("shift +50 Hz, 20 dB", Amplitude, [](auto &C) {
        C.SnrDb = 20;
        C.ShiftHz = 50;
    });
    Add("twist +6 dB, 20 dB", Amplitude, [](auto &C) {
        C.SnrDb = 20;
        C.TwistDb = 6;
    });
    for (const double Clock : {-2.0, -0.5, 0.5, 2.0})
        Add("clock " + std::to_string(Clock).substr(0, Clock < 0 ? 4 : 3) + " %, 20 dB", Amplitude,
            [&](auto &C) {
                C.SnrDb = 20;
                C.ClockPercent = Clock;
            });
    return Conditions;
}

// One row: the errors of every report on a message delivered exactly, header included.
void ReportRow(const TReportCondition &Condition, int Messages, TDemodulatorKind Kind) {
    const TTraffic Traffic =
        MakeTraffic(Messages, ChannelKeying(Condition.Channel), 13, Condition.Level);
    const TSamples Received = PassThroughChannel(Traffic.Clean, Condition.Level, Condition.Channel);
    const TReportTruth Truth = TruthOf(Condition.Channel, Condition.Level);
    const std::vector<bool> Clipped = ClippedMessages(Traffic, Received, Condition.Channel);
    const TDecoded Decoded = Decode(Received, Kind, true);
    TErrors Level, Snr, Offset, Shift, Clock, Confidence;
    int Reports = 0, WrongClipping = 0;
    for (std::size_t Index = 0; Index < Decoded.Texts.size(); ++Index) {
        const auto Sent = SentMessage(Traffic, Decoded, Index);
        const std::optional<TSignalReport> &Report = Decoded.Reports[Index];
        if (!Sent || !Report || !Decoded.Headed[Index])
            continue;
        ++Reports;
        Level.Add(Report->LevelDbfs - Truth.LevelDbfs);
        Snr.Add(SnrError(*Report, Truth.SnrDb));
        Offset.Add(Report->OffsetHz - Truth.OffsetHz);
        Shift.Add(Report->ShiftHz - Truth.ShiftHz);
        Clock.Add(Report->ClockPpm - Truth.ClockPpm);
        Confidence.Add(Report->Confidence - 1.0);
        WrongClipping += Report->Clipped != Clipped[*Sent];
    }
    std::printf("| %s | %s | %d of %d | %s | %s | %s | %s | %s | %s | %d |\n",
                Condition.Name.c_str(),
                Kind == TDemodulatorKind::Crossing ? "zero-crossing" : "matched", Reports, Messages,
                Level.Cell("%+.2f / %+.2f").c_str(), Snr.Cell("%+.2f / %+.2f").c_str(),
                Offset.Cell("%+.2f / %+.2f").c_str(), Shift.Cell("%+.2f / %+.2f").c_str(),
                Clock.Cell("%+.0f / %+.0f").c_str(), Confidence.Cell("%+.2f / %+.2f").c_str(),
                WrongClipping);
    std::fflush(stdout);
}

int ReportMain(int Messages) {
    std::printf("Signal report errors (reported - true: mean / furthest from 0) over the messages "
                "of 2-4 frames delivered exactly, of %d sent per row; SNR in 3 kHz, a lower bound "
                "of %.0f dB counts as right when the truth is above it; confidence as 1 - it\n\n",
                Messages, SnrCeilingDb);
    std::printf("| condition | demodulator | reports | level dB | SNR dB | offset Hz | shift Hz | "
                "clock ppm | confidence | clipped wrong |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const TReportCondition &Condition : ReportConditions())
        if (Condition.Name.find(RowFilter) != std::string::npos)
            for (const TDemodulatorKind Kind : Kinds)
                ReportRow(Condition, Messages, Kind);
    return 0;
}

} // namespace

int main(int ArgCount, char **Args) {
    if (ArgCount > 1 && std::string(Args[1]) == "--report") {
        RowFilter = ArgCount > 3 ? Args[3] : "";
        return ReportMain(ArgCount > 2 ? std::max(1, std::atoi(Args[2])) : 240);
    }
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
    const std::string NetRow = "radio net: 12 stations at -35 to -3 dBFS, 12-30 dB, +-30 Hz, "
                               "+-0.3 %, flat or FM audio; squelch shut and open";
    if (NetRow.find(RowFilter) != std::string::npos) {
        const TNet Net = MakeNet(Messages * 5 / 2, 23);
        Row(
            NetRow, [&](TDemodulatorKind Kind) { return NetCell(Net, Kind); },
            std::to_string(Net.Texts.size()) + " of " + std::to_string(Net.Texts.size()) +
                ", 0 false");
    }

    const auto Buffers = std::size_t(Minutes * 60 * ffsk::SampleRate / BufferSamples);
    const std::string For = " (" + std::to_string(int(Minutes * 60)) + " s)";
    NoFrameRow("white noise" + For, Buffers, WhiteNoise);
    NoFrameRow("pink noise" + For, Buffers, PinkNoise);
    NoFrameRow("silence" + For, Buffers, Silence);
    NoFrameRow("speech-like audio" + For, Buffers, SpeechLike);
    return 0;
}
