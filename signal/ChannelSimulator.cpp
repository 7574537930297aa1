#include "signal/ChannelSimulator.h"

#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

const char *const ChannelOptionsUsage =
    "Radio channel (each off by default):\n"
    "  --snr DB          add white noise, DB = tone power against noise in 3 kHz\n"
    "  --band-noise      the noise only from 300 to 3 000 Hz\n"
    "  --clock PERCENT   tones and bit rate PERCENT fast, as a sample clock that is off\n"
    "  --tone-offset HZ  both tones moved by HZ\n"
    "  --shift HZ        the tones moved HZ further apart (negative: closer)\n"
    "  --twist DB        the 1 800 Hz tone DB louder than the 1 200 Hz one\n"
    "  --dc FRACTION     a DC offset of FRACTION times the tone amplitude\n"
    "  --hum DB          50 Hz mains hum, DB against the tone\n"
    "  --deemphasis      an FM receiver's de-emphasis (-6 dB/octave above 300 Hz)\n"
    "  --seed N          the noise of seed N (default 1)\n";

namespace {

constexpr double FullScale = 32768.0;
constexpr double NoiseBandwidth = 3000.0;
constexpr double HumHz = 50.0;
constexpr double DeemphasisCornerHz = 300.0;
// The de-emphasised tones keep their level halfway between them.
constexpr double DeemphasisUnityHz = 1500.0;
constexpr double RadioLowHz = 300.0, RadioHighHz = 3000.0;

// One second-order section (direct form I), designed as in the audio-EQ cookbook.
class TSection {
public:
    static TSection LowPass(double Hz) { return Design(Hz, false); }
    static TSection HighPass(double Hz) { return Design(Hz, true); }
    double Step(double In) {
        const double Out = B0 * In + B1 * X1 + B2 * X2 - A1 * Y1 - A2 * Y2;
        X2 = X1, X1 = In, Y2 = Y1, Y1 = Out;
        return Out;
    }

private:
    static TSection Design(double Hz, bool High) {
        const double W = 2.0 * std::numbers::pi * Hz / ffsk::SampleRate;
        const double Alpha = std::sin(W) / std::sqrt(2.0), Cos = std::cos(W);
        const double A0 = 1.0 + Alpha;
        const double Outer = (High ? 1.0 + Cos : 1.0 - Cos) / 2.0 / A0;
        TSection Section;
        Section.B0 = Section.B2 = Outer;
        Section.B1 = (High ? -2.0 : 2.0) * Outer;
        Section.A1 = -2.0 * Cos / A0;
        Section.A2 = (1.0 - Alpha) / A0;
        return Section;
    }
    double B0 = 1, B1 = 0, B2 = 0, A1 = 0, A2 = 0;
    double X1 = 0, X2 = 0, Y1 = 0, Y2 = 0;
};

void Deemphasise(std::vector<double> &Signal) {
    const double Pole = std::exp(-2.0 * std::numbers::pi * DeemphasisCornerHz / ffsk::SampleRate);
    const double Gain = std::hypot(1.0, DeemphasisUnityHz / DeemphasisCornerHz) * (1.0 - Pole);
    double State = 0.0;
    for (double &Value : Signal)
        Value = State = Pole * State + Gain * Value;
}

// Gaussian noise of the given power, white or limited to a radio's audio band.
std::vector<double> Noise(std::size_t Count, double Power, const TChannelSettings &Settings) {
    std::mt19937 Random(Settings.Seed);
    std::normal_distribution<double> Gaussian;
    std::vector<double> Result(Count);
    for (double &Value : Result)
        Value = Gaussian(Random);
    if (!Settings.BandLimitedNoise) {
        // White over the whole 24 kHz: a 3 kHz part holds an eighth of it.
        const double Scale = std::sqrt(Power * (ffsk::SampleRate / 2.0) / NoiseBandwidth);
        for (double &Value : Result)
            Value *= Scale;
        return Result;
    }
    TSection Filters[] = {TSection::HighPass(RadioLowHz), TSection::HighPass(RadioLowHz),
                          TSection::LowPass(RadioHighHz), TSection::LowPass(RadioHighHz)};
    double Sum = 0.0;
    for (double &Value : Result) {
        for (TSection &Filter : Filters)
            Value = Filter.Step(Value);
        Sum += Value * Value;
    }
    const double Scale = Sum > 0.0 ? std::sqrt(Power * double(Count) / Sum) : 0.0;
    for (double &Value : Result)
        Value *= Scale;
    return Result;
}

double Decibels(double Db) {
    return std::pow(10.0, Db / 20.0);
}

double ReadNumber(const char *Option, const std::string &Text, double Minimum, double Maximum) {
    const double Value = ParseReal(Option, Text);
    if (Value < Minimum || Value > Maximum)
        throw EToolError(std::string(Option) + " must be from " + std::to_string(Minimum) + " to " +
                         std::to_string(Maximum) + ", not '" + Text + "'");
    return Value;
}

bool ReadNumberOption(TArgumentReader &Reader, TChannelSettings &Settings) {
    using TSettings = TChannelSettings;
    struct TNumberOption {
        const char *Name;
        double Minimum, Maximum;
        void (*Set)(TSettings &, double);
    };
    static const TNumberOption Options[] = {
        {"--snr", -30, 100, [](TSettings &S, double Value) { S.SnrDb = Value; }},
        {"--clock", -10, 10, [](TSettings &S, double Value) { S.ClockPercent = Value; }},
        {"--tone-offset", -500, 500, [](TSettings &S, double Value) { S.ToneOffsetHz = Value; }},
        {"--shift", -500, 500, [](TSettings &S, double Value) { S.ShiftHz = Value; }},
        {"--twist", -20, 20, [](TSettings &S, double Value) { S.TwistDb = Value; }},
        {"--dc", -1, 1, [](TSettings &S, double Value) { S.DcFraction = Value; }},
        {"--hum", -100, 20, [](TSettings &S, double Value) { S.HumDb = Value; }},
    };
    for (const TNumberOption &Option : Options)
        if (auto Text = Reader.Value(Option.Name)) {
            Option.Set(Settings, ReadNumber(Option.Name, *Text, Option.Minimum, Option.Maximum));
            return true;
        }
    return false;
}

} // namespace

ffsk::TToneKeying ChannelKeying(const TChannelSettings &Settings) {
    const double Clock = 1.0 + Settings.ClockPercent / 100.0;
    ffsk::TToneKeying Keying;
    Keying.ZeroHz = (Keying.ZeroHz + Settings.ToneOffsetHz - Settings.ShiftHz / 2.0) * Clock;
    Keying.OneHz = (Keying.OneHz + Settings.ToneOffsetHz + Settings.ShiftHz / 2.0) * Clock;
    Keying.SamplesPerBit /= Clock;
    Keying.OneGain = Decibels(Settings.TwistDb);
    return Keying;
}

std::vector<std::int16_t> PassThroughChannel(const std::vector<std::int16_t> &Clean,
                                             double Amplitude, const TChannelSettings &Settings) {
    std::vector<double> Signal(Clean.begin(), Clean.end());
    if (Settings.Deemphasis)
        Deemphasise(Signal);
    const double Tone = Amplitude * FullScale;
    if (Settings.SnrDb) {
        const double NoisePower = Tone * Tone / 2.0 / std::pow(10.0, *Settings.SnrDb / 10.0);
        const std::vector<double> Added = Noise(Signal.size(), NoisePower, Settings);
        std::transform(Signal.begin(), Signal.end(), Added.begin(), Signal.begin(), std::plus<>());
    }
    const double Hum = Settings.HumDb ? Tone * Decibels(*Settings.HumDb) : 0.0;
    const double HumStep = 2.0 * std::numbers::pi * HumHz / ffsk::SampleRate;
    std::vector<std::int16_t> Result(Signal.size());
    for (std::size_t Index = 0; Index < Signal.size(); ++Index) {
        const double Value =
            Signal[Index] + Settings.DcFraction * Tone + Hum * std::sin(HumStep * double(Index));
        Result[Index] = static_cast<std::int16_t>(
            std::clamp(std::round(Value), double(std::numeric_limits<std::int16_t>::min()),
                       double(std::numeric_limits<std::int16_t>::max())));
    }
    return Result;
}

bool ReadChannelOption(TArgumentReader &Reader, TChannelSettings &Settings) {
    if (Reader.Flag("--band-noise"))
        Settings.BandLimitedNoise = true;
    else if (Reader.Flag("--deemphasis"))
        Settings.Deemphasis = true;
    else if (auto Seed = Reader.Value("--seed"))
        Settings.Seed = std::uint32_t(ParseInteger("--seed", *Seed, 0, 4294967295LL));
    else
        return ReadNumberOption(Reader, Settings);
    return true;
}
