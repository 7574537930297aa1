#include "receiver/SignalEstimator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <span>

// How a report is made. The decided bits say what was sent: continuous-phase FFSK,
// 1 200 Hz for a 0 bit and 1 800 Hz for a 1 bit, 40 samples a bit. The bit clock places
// one 40-sample window on each bit of the fitted frames; within it a least-squares fit of
// the bit's ideal tone and a constant (DC and hum) gives the tone's complex amplitude.
// Along the bits, the phase of those amplitudes runs away from the ideal one at a rate
// that tells each tone's frequency, and steps at every change of tone by an amount that
// tells how far the windows sit off the bits: one linear fit gives both, hence the tones
// and the bit clock. The amplitudes turned back by the fitted phase scatter around one
// mean per pattern of three bits; the means give the level, the scatter the noise near
// the tones. Measured over 240 messages per condition, see bench_quality --report.

namespace {

using TComplex = std::complex<double>;

constexpr double SampleRate = 48000.0;
constexpr int SamplesPerBit = 40;
constexpr int FrameBits = 80;
constexpr double FrameSamples = FrameBits * SamplesPerBit;
constexpr double ToneHz[2] = {1200.0, 1800.0}; // of a 0 and a 1 bit
constexpr double TwoPi = 2.0 * std::numbers::pi;
// A frame's audio is kept this far around where the bit clock put it: the clock's own
// jitter and up to 4 % of clock error.
constexpr std::uint32_t FrameMargin = 160;
constexpr double MaxClockError = 0.04;
// Only the first two frames are fitted (a message has at least two): the cost of a
// report does not grow with the message. Four cost zel-decode --json twice as much on
// continuous traffic and narrowed the errors only of longer messages.
constexpr std::size_t FittedFrames = 2;
constexpr double FullScale = 32768.0;
constexpr double NoiseBandwidth = 3000.0;
// Above this the noise is too weak against the fit's own error to be measured.
constexpr double SnrCeilingDb = 30.0;
// Windows further off the bits than this are placed again and fitted once more, up to
// MaxRefits times: a fit with windows far off the bits moves them only part of the way.
constexpr double MaxMisplacement = 1.0;
constexpr int MaxRefits = 3;

// The least-squares fit of one bit's ideal tone and a constant, as two weightings of the
// window's samples that give the tone's amplitude in phase and in quadrature: per tone,
// and per start half a cycle apart (each 1 800 Hz bit ends half a cycle on).
struct TBitReference {
    std::array<float, SamplesPerBit> InPhase, Quadrature;
    double NoiseGain; // the amplitude's variance for white noise of variance 1
};
using TReferences = std::array<std::array<TBitReference, 2>, 2>; // [bit][start half]

TBitReference MakeReference(int Bit, int Half) {
    // Normal equations of x = c + p cos + q sin over the window, inverted.
    double Basis[3][SamplesPerBit];
    for (int N = 0; N < SamplesPerBit; ++N) {
        const double Phase = TwoPi * (0.5 * Half + ToneHz[Bit] * N / SampleRate);
        Basis[0][N] = 1.0, Basis[1][N] = std::cos(Phase), Basis[2][N] = std::sin(Phase);
    }
    double Gram[3][6] = {};
    for (int Row = 0; Row < 3; ++Row) {
        for (int Column = 0; Column < 3; ++Column)
            for (int N = 0; N < SamplesPerBit; ++N)
                Gram[Row][Column] += Basis[Row][N] * Basis[Column][N];
        Gram[Row][3 + Row] = 1.0;
    }
    for (int Pivot = 0; Pivot < 3; ++Pivot) // Gauss-Jordan: the Gram matrix is well posed
        for (int Row = 0; Row < 3; ++Row) {
            const double Factor = Gram[Row][Pivot] / Gram[Pivot][Pivot];
            for (int Column = 0; Column < 6; ++Column)
                if (Row != Pivot)
                    Gram[Row][Column] -= Factor * Gram[Pivot][Column];
        }
    TBitReference Reference{};
    for (int N = 0; N < SamplesPerBit; ++N) {
        double P = 0, Q = 0;
        for (int Column = 0; Column < 3; ++Column) {
            P += Gram[1][3 + Column] / Gram[1][1] * Basis[Column][N];
            Q += Gram[2][3 + Column] / Gram[2][2] * Basis[Column][N];
        }
        Reference.InPhase[N] = float(P), Reference.Quadrature[N] = float(Q);
    }
    Reference.NoiseGain = Gram[1][4] / Gram[1][1] + Gram[2][5] / Gram[2][2];
    return Reference;
}

const TReferences &References() {
    static const TReferences Table = {
        {{MakeReference(0, 0), MakeReference(0, 1)}, {MakeReference(1, 0), MakeReference(1, 1)}}};
    return Table;
}

int BitAt(const std::string &Bytes, int Index) {
    return (static_cast<unsigned char>(Bytes[std::size_t(Index / 8)]) >> (7 - Index % 8)) & 1;
}

// Where bit 0 of the fitted frames begins in the kept audio, and samples per bit.
struct TBitClock {
    double Start;
    double Period;
};

// One bit's window: the tone's complex amplitude (as of the ideal tone's phase at the
// bit's start), which bits it follows, and its noise gain.
struct TBitWindow {
    TComplex Amplitude;
    int Index;
    int Bit, Previous; // Previous: -1 for the first bit
    int Pattern;       // this bit and the two before it as a number; -1 for the first two
    int Zeros, Ones;   // bits of each tone before it
    double NoiseGain;
};

// The two weightings of one window's samples, in eight partial sums that the vectorizer
// may reorder (it keeps the order of a single sum).
std::pair<float, float> Weigh(const float *Samples, const TBitReference &Reference) {
    constexpr int Lanes = 8;
    float InPhase[Lanes] = {}, Quadrature[Lanes] = {};
    for (int N = 0; N < SamplesPerBit; N += Lanes)
        for (int Lane = 0; Lane < Lanes; ++Lane) {
            InPhase[Lane] += Samples[N + Lane] * Reference.InPhase[std::size_t(N + Lane)];
            Quadrature[Lane] += Samples[N + Lane] * Reference.Quadrature[std::size_t(N + Lane)];
        }
    float P = 0, Q = 0;
    for (int Lane = 0; Lane < Lanes; ++Lane)
        P += InPhase[Lane], Q += Quadrature[Lane];
    return {P, Q};
}

// e^(j Angle) for |Angle| < 0.2, to 1e-6.
TComplex SmallTurn(double Angle) {
    const double Square = Angle * Angle;
    return {1.0 - Square / 2.0 * (1.0 - Square / 12.0), Angle * (1.0 - Square / 6.0)};
}

// The windows of the first Bits bits.
std::vector<TBitWindow> CorrelateBits(const std::vector<float> &Audio, const std::string &Bytes,
                                      int Bits, const TBitClock &Clock) {
    std::vector<TBitWindow> Windows;
    Windows.reserve(std::size_t(Bits));
    int Counts[2] = {0, 0};
    for (int Index = 0, Previous = -1, Pattern = 0; Index < Bits; ++Index) {
        const int Bit = BitAt(Bytes, Index);
        const double Exact = Clock.Start + Index * Clock.Period;
        if (Exact >= 0 && Exact + SamplesPerBit + 1 <= double(Audio.size())) {
            const auto First = std::size_t(Exact + 0.5);
            const TBitReference &Reference = References()[Bit][Counts[1] % 2];
            const auto [InPhase, Quadrature] = Weigh(Audio.data() + First, Reference);
            // From the window's first sample back to the bit's own start.
            const double Late = TwoPi * ToneHz[Bit] * (Exact - double(First)) / SampleRate;
            Windows.push_back({TComplex(InPhase, -Quadrature) * SmallTurn(Late), Index, Bit,
                               Previous, Index >= 2 ? (Pattern * 2 + Bit) & 7 : -1, Counts[0],
                               Counts[1], Reference.NoiseGain});
        }
        ++Counts[Bit];
        Previous = Bit;
        Pattern = (Pattern * 2 + Bit) & 7;
    }
    return Windows;
}

// The phase of each window against the ideal tone's, as a line: a start phase, a step
// for a 1 bit, per tone the phase it gains each bit, and the samples per bit by which
// the clock's period was long (its windows come earlier and earlier on the bits).
struct TPhaseFit {
    double Start = 0, OneStep = 0, PerBit[2] = {0, 0}, PeriodError = 0;
    static constexpr int Terms = 5;
    static std::array<double, Terms> Regressors(const TBitWindow &Window) {
        return {1.0, double(Window.Bit), double(Window.Zeros), double(Window.Ones),
                -TwoPi * ToneHz[Window.Bit] * Window.Index / SampleRate};
    }
};

// The fitted phase undone, window after window in order: each term's turn is a power
// of a turn per bit, kept up by products rather than trigonometry per window.
class TTurnBack {
public:
    explicit TTurnBack(const TPhaseFit &Fit) {
        for (int Bit = 0; Bit < 2; ++Bit) {
            FStart[Bit] = std::polar(1.0, -Fit.Start - Fit.OneStep * Bit);
            FPerBit[Bit] = std::polar(1.0, -Fit.PerBit[Bit]);
            FPerIndex[Bit] = std::polar(1.0, Fit.PeriodError * TwoPi * ToneHz[Bit] / SampleRate);
        }
    }
    TComplex Next(const TBitWindow &Window) {
        Advance(FCounts[0], Window.Zeros, FPowers[0], FPerBit[0]);
        Advance(FCounts[1], Window.Ones, FPowers[1], FPerBit[1]);
        for (int Bit = 0; Bit < 2; ++Bit)
            Advance(FIndex[Bit], Window.Index, FIndexPowers[Bit], FPerIndex[Bit]);
        return FStart[Window.Bit] * FPowers[0] * FPowers[1] * FIndexPowers[Window.Bit];
    }

private:
    static void Advance(int &Count, int To, TComplex &Power, TComplex Step) {
        for (; Count < To; ++Count)
            Power *= Step;
    }
    TComplex FStart[2], FPerBit[2], FPerIndex[2];
    TComplex FPowers[2] = {1.0, 1.0}, FIndexPowers[2] = {1.0, 1.0};
    int FCounts[2] = {0, 0}, FIndex[2] = {0, 0};
};

// The phase of Value to 1e-5 radians (Abramowitz and Stegun 4.4.49 on the octants),
// at a fraction of the library's cost.
double FastArg(TComplex Value) {
    const double X = std::abs(Value.real()), Y = std::abs(Value.imag());
    if (X == 0 && Y == 0)
        return 0;
    const double Ratio = std::min(X, Y) / std::max(X, Y), Square = Ratio * Ratio;
    double Angle =
        Ratio *
        (0.9998660 +
         Square * (-0.3302995 + Square * (0.1801410 + Square * (-0.0851330 + Square * 0.0208351))));
    if (Y > X)
        Angle = std::numbers::pi / 2 - Angle;
    if (Value.real() < 0)
        Angle = std::numbers::pi - Angle;
    return Value.imag() < 0 ? -Angle : Angle;
}

TComplex Squared(TComplex Value) {
    return {Value.real() * Value.real() - Value.imag() * Value.imag(),
            2 * Value.real() * Value.imag()};
}

// Phase taken within half a turn of Near.
double Unwrapped(double Phase, double Near) {
    const double Turns = (Phase - Near) * (1 / TwoPi); // rounded inline: a library call cost 10 %
    return Phase - TwoPi * double(long(Turns + (Turns < 0 ? -0.5 : 0.5)));
}

// The windows' phases against the ideal tone's, unwrapped, to within half a turn: a bit
// decided wrong puts every later window half a turn off (a 1 800 Hz bit adds half a cycle
// that a 1 200 Hz one does not), so the phases are unwrapped doubled. Each is taken as
// near as can be to a tracked phase moved on by the mean step between the same two bits
// (a frequency offset makes that large); the track follows each window only by a quarter,
// so one window that noise swamps does not turn all later ones half a turn (at 6 dB it
// did, in one message of a hundred).
std::vector<double> WindowPhases(const std::vector<TBitWindow> &Windows) {
    constexpr double TrackGain = 0.25;
    TComplex StepSums[4] = {};
    for (std::size_t Index = 1; Index < Windows.size(); ++Index) {
        const TBitWindow &Window = Windows[Index];
        if (Window.Index == Windows[Index - 1].Index + 1)
            StepSums[2 * Window.Previous + Window.Bit] +=
                Squared(Window.Amplitude * std::conj(Windows[Index - 1].Amplitude));
    }
    double Steps[4];
    for (int Pair = 0; Pair < 4; ++Pair)
        Steps[Pair] = FastArg(StepSums[Pair]);
    std::vector<double> Phases(Windows.size());
    double Track = 0;
    for (std::size_t Index = 0; Index < Windows.size(); ++Index) {
        const TBitWindow &Window = Windows[Index];
        const double Raw = 2 * FastArg(Window.Amplitude);
        const double Predicted =
            Index == 0 ? Raw : Track + Steps[std::max(0, 2 * Window.Previous + Window.Bit)];
        const double Doubled = Unwrapped(Raw, Predicted);
        Track = Predicted + TrackGain * (Doubled - Predicted);
        Phases[Index] = Doubled / 2;
    }
    return Phases;
}

// Weighted least squares on the unwrapped phases, by the normal equations: a window's
// phase is as certain as its amplitude is strong.
TPhaseFit FitPhase(const std::vector<TBitWindow> &Windows) {
    constexpr int Terms = TPhaseFit::Terms;
    double Normal[Terms][Terms + 1] = {};
    const std::vector<double> Phases = WindowPhases(Windows);
    double Strength = 0;
    for (const TBitWindow &Window : Windows)
        Strength += std::norm(Window.Amplitude);
    Strength = std::max(Strength / double(Windows.size()), 1e-12);
    for (std::size_t Index = 0; Index < Windows.size(); ++Index) {
        const double Weight = std::norm(Windows[Index].Amplitude) / Strength;
        const auto X = TPhaseFit::Regressors(Windows[Index]);
        for (int Row = 0; Row < Terms; ++Row) {
            for (int Column = Row; Column < Terms; ++Column)
                Normal[Row][Column] += Weight * X[Row] * X[Column];
            Normal[Row][Terms] += Weight * X[Row] * Phases[Index];
        }
    }
    for (int Row = 1; Row < Terms; ++Row)
        for (int Column = 0; Column < Row; ++Column)
            Normal[Row][Column] = Normal[Column][Row];
    for (int Pivot = 0; Pivot < Terms; ++Pivot) {
        if (std::abs(Normal[Pivot][Pivot]) < 1e-9) // a tone never sent: its term stays 0
            continue;
        for (int Row = 0; Row < Terms; ++Row) {
            const double Factor = Normal[Row][Pivot] / Normal[Pivot][Pivot];
            for (int Column = 0; Column <= Terms; ++Column)
                if (Row != Pivot)
                    Normal[Row][Column] -= Factor * Normal[Pivot][Column];
        }
    }
    double Solution[Terms] = {};
    for (int Row = 0; Row < Terms; ++Row)
        if (std::abs(Normal[Row][Row]) >= 1e-9)
            Solution[Row] = Normal[Row][Terms] / Normal[Row][Row];
    TPhaseFit Fit;
    Fit.Start = Solution[0], Fit.OneStep = Solution[1];
    Fit.PerBit[0] = Solution[2], Fit.PerBit[1] = Solution[3];
    Fit.PeriodError = Solution[4];
    return Fit;
}

// The tones as the fit has them, in Hz, with the bit period it found.
std::array<double, 2> FittedTones(const TPhaseFit &Fit, double Period) {
    std::array<double, 2> Tones;
    for (int Bit = 0; Bit < 2; ++Bit)
        Tones[Bit] = (ToneHz[Bit] * SamplesPerBit + Fit.PerBit[Bit] * SampleRate / TwoPi) / Period;
    return Tones;
}

// The clock corrected by the fit. The step at a change of tone holds how far the
// windows sit off the bits, besides the tones' own offsets within a window.
TBitClock CorrectedClock(const TBitClock &Clock, const TPhaseFit &Fit) {
    const double Period = Clock.Period + Fit.PeriodError;
    const auto Tones = FittedTones(Fit, Period);
    const double Drift = TwoPi * ((Tones[1] - ToneHz[1]) - (Tones[0] - ToneHz[0])) *
                         (SamplesPerBit - 1) / 2.0 / SampleRate;
    const double Late = -(Fit.OneStep - Drift) * SampleRate / (TwoPi * (Tones[1] - Tones[0]));
    return {Clock.Start + Late, Period};
}

// Bit clocks to try the windows with. The frames' ends give one, but the matched
// demodulator now and then hands frames over a bit period later from some frame on:
// tried are the nominal period and the mean and median between consecutive ends, each
// counted back from the first frame's end and from the last one's. The clock whose
// windows hold the most of the tones wins.
std::vector<TBitClock> CandidateClocks(const std::vector<double> &FrameEnds, double DelayBits) {
    std::vector<double> Spacings, Periods{double(SamplesPerBit)};
    for (std::size_t Frame = 1; Frame < FrameEnds.size(); ++Frame)
        Spacings.push_back((FrameEnds[Frame] - FrameEnds[Frame - 1]) / FrameBits);
    if (!Spacings.empty()) {
        Periods.push_back((FrameEnds.back() - FrameEnds.front()) / FrameBits /
                          double(Spacings.size()));
        std::nth_element(Spacings.begin(), Spacings.begin() + std::ptrdiff_t(Spacings.size() / 2),
                         Spacings.end());
        Periods.push_back(Spacings[Spacings.size() / 2]);
    }
    std::vector<TBitClock> Clocks;
    const auto Add = [&](TBitClock Clock) {
        if (std::abs(Clock.Period / SamplesPerBit - 1.0) <= MaxClockError &&
            std::none_of(Clocks.begin(), Clocks.end(), [&](const TBitClock &Kept) {
                return std::abs(Kept.Period - Clock.Period) < 0.02 &&
                       std::abs(Kept.Start - Clock.Start) < MaxMisplacement;
            }))
            Clocks.push_back(Clock);
    };
    for (const double Period : Periods) {
        // The ends were placed with the nominal period's decision delay.
        const double Late = DelayBits * (SamplesPerBit - Period);
        Add({FrameEnds.front() + Late - FrameBits * Period, Period});
        Add({FrameEnds.back() + Late - FrameBits * double(FrameEnds.size()) * Period, Period});
    }
    return Clocks;
}

// The candidate clock whose windows hold the most of the tones.
TBitClock LikeliestClock(const std::vector<float> &Audio, const std::string &Bytes,
                         const std::vector<double> &FrameEnds, double DelayBits) {
    const std::vector<TBitClock> Candidates = CandidateClocks(FrameEnds, DelayBits);
    const int Bits = FrameBits * int(FrameEnds.size());
    TBitClock Likeliest = Candidates.front();
    for (double Strongest = -1; const TBitClock &Candidate : Candidates) {
        if (Candidates.size() == 1)
            break;
        double Strength = 0;
        for (const TBitWindow &Window : CorrelateBits(Audio, Bytes, Bits, Candidate))
            Strength += std::norm(Window.Amplitude);
        if (Strength > Strongest)
            Strongest = Strength, Likeliest = Candidate;
    }
    return Likeliest;
}

double Decibels(double PowerRatio) {
    return 10.0 * std::log10(PowerRatio);
}

// Level, noise and the closest decision from the amplitudes turned back by the fitted
// phase: their mean per pattern of three bits is the clean signal (a filter in the audio
// path, as an FM receiver's de-emphasis, leaves each change of tone its own mark for
// about two bits), the rest is noise.
void MeasureScatter(const std::vector<TBitWindow> &Windows, const TPhaseFit &Fit,
                    TSignalReport &Report) {
    constexpr int Patterns = 8;
    TComplex Sum[Patterns] = {};
    int Count[Patterns] = {};
    std::vector<TComplex> Turned(Windows.size());
    TTurnBack TurnBack(Fit);
    for (std::size_t Index = 0; Index < Windows.size(); ++Index) {
        const TBitWindow &Window = Windows[Index];
        Turned[Index] = Window.Amplitude * TurnBack.Next(Window);
        if (Turned[Index].real() < 0) // half a turn off after a bit decided wrong
            Turned[Index] = -Turned[Index];
        if (Window.Pattern >= 0) {
            Sum[Window.Pattern] += Turned[Index];
            ++Count[Window.Pattern];
        }
    }
    TComplex Mean[Patterns];
    int Means = 0;
    for (int Pattern = 0; Pattern < Patterns; ++Pattern)
        if (Count[Pattern] > 0)
            Mean[Pattern] = Sum[Pattern] / double(Count[Pattern]), ++Means;
    double Residual = 0, Closest = 1.0;
    int Used = 0;
    for (std::size_t Index = 0; Index < Windows.size(); ++Index) {
        const TBitWindow &Window = Windows[Index];
        if (Window.Pattern < 0)
            continue;
        const TComplex Clean = Mean[Window.Pattern];
        Residual += std::norm(Turned[Index] - Clean) / Window.NoiseGain;
        if (std::norm(Clean) > 0)
            Closest =
                std::min(Closest, std::real(Turned[Index] * std::conj(Clean)) / std::norm(Clean));
        ++Used;
    }
    // The means and the phase line took up some of the scatter.
    const double Freedom = 2.0 * (Used - Means) - TPhaseFit::Terms;
    const double NoiseVariance = Residual / std::max(Freedom / 2.0, 1.0); // per sample, white
    const double NoiseIn3kHz = NoiseVariance * 2.0 * NoiseBandwidth / SampleRate;
    // Each tone's level over all its windows: at 6 dB the steady ones alone (a bit after
    // one of its own) left it 0.7 dB off; the mark an FM receiver's de-emphasis leaves on
    // a change of tone moves it by less than 0.1 dB.
    double Power[2] = {}, Weights[2] = {};
    for (int Pattern = 0; Pattern < Patterns; ++Pattern) {
        Power[Pattern & 1] += std::norm(Mean[Pattern]) * Count[Pattern];
        Weights[Pattern & 1] += Count[Pattern];
    }
    for (int Tone = 0; Tone < 2; ++Tone)
        Power[Tone] /= std::max(Weights[Tone], 1.0);
    const double Amplitude = std::sqrt((Power[0] + Power[1]) / 2.0);
    Report.LevelDbfs = 20.0 * std::log10(std::max(Amplitude, 1e-3) / FullScale);
    const double Snr = Decibels(Amplitude * Amplitude / 2.0 / std::max(NoiseIn3kHz, 1e-12));
    Report.SnrLowerBound = Snr > SnrCeilingDb;
    Report.SnrDb = std::min(Snr, SnrCeilingDb);
    Report.Confidence = std::clamp(Closest, 0.0, 1.0);
}

} // namespace

TSignalEstimator::TSignalEstimator(double DecisionDelayBits)
    : FDecisionDelayBits(DecisionDelayBits) {
    FAudio.reserve(std::size_t(FittedFrames * FrameSamples * (1 + MaxClockError)) +
                   2 * FrameMargin);
}

void TSignalEstimator::BeginBuffer(const std::uint8_t *Bytes, std::uint32_t Count,
                                   std::uint64_t Start) {
    FBuffer = Bytes;
    FCount = Count;
    FBufferStart = Start;
    if (FTailStart + FTail.size() != Start) { // no tail yet: none before the buffer
        FTail.clear();
        FTailStart = Start;
    }
}

void TSignalEstimator::EndBuffer() {
    const auto Needed = std::uint32_t(FrameSamples * (1 + MaxClockError) +
                                      FDecisionDelayBits * SamplesPerBit * (1 + MaxClockError)) +
                        2 * FrameMargin;
    const std::uint32_t Kept = std::min(FCount, Needed);
    FTailStart = FBufferStart + FCount - Kept;
    FTail.resize(Kept);
    if (Kept > 0)
        std::memcpy(FTail.data(), FBuffer + 2 * std::size_t(FCount - Kept), 2 * std::size_t(Kept));
    FBuffer = nullptr;
    FCount = 0;
}

void TSignalEstimator::BeginMessage() {
    FAudio.clear();
    FFrameEnds.clear();
    FFrameBytes.clear();
    FFitClosed = false;
    FClipped = false;
}

// A frame is fitted while it follows the one before at once; every frame's samples are
// looked at for clipping.
void TSignalEstimator::TakeFrame(std::uint64_t End, const std::string &Bytes) {
    const double BitEnd = double(End) - FDecisionDelayBits * SamplesPerBit;
    const auto From = std::uint64_t(std::max(BitEnd - FrameSamples, double(FTailStart)));
    const auto To = std::uint64_t(std::clamp(BitEnd, double(From), double(FBufferStart + FCount)));
    NoteClipping(From, To);
    const std::uint64_t AudioEnd = FAudioStart + FAudio.size();
    if (!FAudio.empty() && (From > AudioEnd + FrameMargin || AudioEnd < FTailStart))
        FFitClosed = true;
    if (FFitClosed || FFrameEnds.size() == FittedFrames)
        return;
    if (FAudio.empty())
        FAudioStart = std::max(From, FTailStart + FrameMargin) - FrameMargin;
    KeepAudio(FAudioStart + FAudio.size(),
              std::min(std::uint64_t(BitEnd) + FrameMargin, FBufferStart + FCount));
    FFrameEnds.push_back(BitEnd - double(FAudioStart));
    FFrameBytes += Bytes;
}

// The loops over samples are left plain for the vectorizer (see CMakeLists.txt).
void TSignalEstimator::KeepAudio(std::uint64_t From, std::uint64_t To) {
    const auto Span = Samples(From, To);
    const std::size_t Kept = FAudio.size();
    FAudio.resize(Kept + Span.size());
    float *Out = FAudio.data() + Kept;
    for (std::size_t Index = 0; Index < Span.size(); ++Index)
        Out[Index] = Span[Index];
}

// By the lowest and highest sample.
void TSignalEstimator::NoteClipping(std::uint64_t From, std::uint64_t To) {
    std::int16_t Low = 0, High = 0;
    for (const std::int16_t Value : Samples(From, To)) {
        Low = std::min(Low, Value);
        High = std::max(High, Value);
    }
    FClipped = FClipped || Low == INT16_MIN || High == INT16_MAX;
}

// Samples From to To, from the tail and the buffer in hand.
std::span<const std::int16_t> TSignalEstimator::Samples(std::uint64_t From, std::uint64_t To) {
    FScratch.resize(std::size_t(To - std::min(From, To)));
    const std::uint64_t Split = std::clamp(FBufferStart, From, std::max(From, To));
    if (Split > From)
        std::memcpy(FScratch.data(), FTail.data() + (From - FTailStart),
                    2 * std::size_t(Split - From));
    if (To > Split)
        std::memcpy(FScratch.data() + (Split - From), FBuffer + 2 * (Split - FBufferStart),
                    2 * std::size_t(To - Split));
    return FScratch;
}

std::optional<TSignalReport> TSignalEstimator::Estimate() const {
    if (FFrameEnds.empty())
        return std::nullopt;
    const int Bits = FrameBits * int(FFrameEnds.size());
    TBitClock Clock = LikeliestClock(FAudio, FFrameBytes, FFrameEnds, FDecisionDelayBits);
    // The first frame's fit sets where the windows start; the whole fit is made again
    // while it moves them by more than a sample.
    std::vector<TBitWindow> Windows = CorrelateBits(FAudio, FFrameBytes, FrameBits, Clock);
    if (Windows.size() < FrameBits / 2)
        return std::nullopt;
    Clock.Start = CorrectedClock(Clock, FitPhase(Windows)).Start;
    Windows = CorrelateBits(FAudio, FFrameBytes, Bits, Clock);
    TPhaseFit Fit = FitPhase(Windows);
    for (int Refit = 0; Refit < MaxRefits; ++Refit) {
        const TBitClock Corrected = CorrectedClock(Clock, Fit);
        if (std::abs(Corrected.Start - Clock.Start) + Bits * std::abs(Fit.PeriodError) <=
            MaxMisplacement)
            break;
        Clock = Corrected;
        Windows = CorrelateBits(FAudio, FFrameBytes, Bits, Clock);
        Fit = FitPhase(Windows);
    }
    TSignalReport Report;
    MeasureScatter(Windows, Fit, Report);
    const double FittedPeriod = Clock.Period + Fit.PeriodError;
    const auto Tones = FittedTones(Fit, FittedPeriod);
    Report.OffsetHz = (Tones[0] - ToneHz[0] + Tones[1] - ToneHz[1]) / 2.0;
    Report.ShiftHz = Tones[1] - Tones[0];
    Report.ClockPpm = (SamplesPerBit / FittedPeriod - 1.0) * 1e6;
    Report.Clipped = FClipped;
    // Audio without a tone where the bits were (digital silence, say) fits to nothing.
    for (const double Value : {Report.LevelDbfs, Report.SnrDb, Report.OffsetHz, Report.ShiftHz,
                               Report.ClockPpm, Report.Confidence})
        if (!std::isfinite(Value))
            return std::nullopt;
    return Report;
}
