#include "receiver/untMatchedDemodulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZEL_WIDE_VECTORS 1 // eight lanes where the processor has them, chosen as it runs
#endif

namespace {

constexpr float SampleRate = 48000.0f;
constexpr float ToneHz[2] = {1200.0f, 1800.0f};
// Below the tones: takes out DC and mains hum, leaves the tones as they are.
constexpr float HighPassHz = 500.0f;
// The clock compares windows this many samples early and late.
constexpr int LookAround = 5;
// Clock corrections per unit of timing error: quick while seeking a signal, steady on one.
constexpr float SeekStep = 6.0f, LockedStep = 1.0f;
// How far one unit of timing error moves the period: a sample clock that is off is
// followed, not just corrected bit by bit.
constexpr float Drift = 0.05f;
// Without a signal the period relaxes to the nominal one rather than wander with noise.
constexpr float PeriodRelaxation = 0.001f;
// A sample clock off by up to 3 % still keeps up.
constexpr float MinPeriod = 40.0f * 0.97f, MaxPeriod = 40.0f * 1.03f;
// Decision quality: 0.71 for clean FFSK, about 0.2 for noise; the squelch averages it
// over a few bits and opens well above what noise reaches. Below NoiseQuality the clock
// is not steered: noise between messages, decided as fully as a signal once the station
// is forgotten, moved it at 0.15 enough that 12 % of messages at 5.5 dB were lost, 9 %
// at 0.25.
constexpr float QualitySmoothing = 0.4f;
constexpr float NoiseQuality = 0.25f;
constexpr float OpenAbove = 0.45f, CloseBelow = 0.3f;
// The clock jumps half a bit when windows half a bit away keep showing the tones more
// clearly: early-late alone would dwell there, and the preamble decodes even there.
constexpr float HalfBitSmoothing = 0.25f, HalfBitJump = 0.4f, LockedHalfBitJump = 0.6f;
constexpr float LearnAbove = 0.38f;
// The decided bits keep a phase reference, each bit weighing this much less than the
// next: longer memories suffer from the small errors of the learnt turns.
constexpr float ReferenceDecay = 0.5f;
// The newest bits whose tones hold, on average, less than this share of a decided bit's
// energy are taken as the carrier gone: the bits before them are decided without them.
constexpr float CarrierGone = 0.4f;
constexpr float SignalEnergySmoothing = 0.125f;
constexpr float TurnLearning = 1.0f / 16.0f;
// Without a station the turns relax to the ideal ones each bit by this share: noise that
// looks clear for a moment teaches them nonsense, and a weak station after seconds of
// open-squelch noise lost its first frame (the radio net: 3 939 of 4 000 messages
// without, 3 998 with).
constexpr float TurnRelaxation = 0.1f;
constexpr float Tiny = 1e-20f;
// Far below one step of 16-bit input.
constexpr float RestLevel = 1e-4f;

// Per tone, the cosine and the negated sine of each sample of a bit, so that a window's
// correlation is four sums of products: real and imaginary part against each tone.
struct TToneTables {
    alignas(16) float Wave[4][TMatchedDemodulator::SamplesPerBit];
    TToneTables() {
        for (int Tone = 0; Tone < 2; ++Tone)
            for (int Index = 0; Index < TMatchedDemodulator::SamplesPerBit; ++Index) {
                const double Phase = 2.0 * std::numbers::pi * ToneHz[Tone] * Index / SampleRate;
                Wave[2 * Tone][Index] = float(std::cos(Phase));
                Wave[2 * Tone + 1][Index] = float(-std::sin(Phase));
            }
    }
};
const TToneTables Tables;

#if defined(ZEL_WIDE_VECTORS)
// The same, two waves side by side for each four samples: waves 0 and 1, then 2 and 3.
struct TPairedTables {
    alignas(32) float Pair[2][TMatchedDemodulator::SamplesPerBit / 4][8];
    TPairedTables() {
        for (int Pairs = 0; Pairs < 2; ++Pairs)
            for (int Step = 0; Step < TMatchedDemodulator::SamplesPerBit / 4; ++Step)
                for (int Lane = 0; Lane < 8; ++Lane)
                    Pair[Pairs][Step][Lane] =
                        Tables.Wave[2 * Pairs + Lane / 4][4 * Step + Lane % 4];
    }
};
const TPairedTables Paired;
#endif

// How far each tone turns back over a window that starts Shift samples from where it
// would have: windows MaxShift samples off either way are covered.
constexpr int MaxShift = 2 * TMatchedDemodulator::SamplesPerBit;
struct TShiftTables {
    std::complex<float> Back[2 * MaxShift + 1][2];
    TShiftTables() {
        for (int Shift = -MaxShift; Shift <= MaxShift; ++Shift)
            for (int Tone = 0; Tone < 2; ++Tone)
                Back[Shift + MaxShift][Tone] = std::polar(
                    1.0f, float(-2.0 * std::numbers::pi * ToneHz[Tone] * Shift / SampleRate));
    }
};
const TShiftTables Shifts;

// The little-endian 16-bit sample at Index.
std::int16_t SampleAt(const std::uint8_t *Bytes, std::uint32_t Index) {
    if constexpr (std::endian::native == std::endian::little) {
        std::int16_t Sample;
        std::memcpy(&Sample, Bytes + 2 * std::size_t(Index), sizeof Sample);
        return Sample;
    }
    return static_cast<std::int16_t>(Bytes[2 * Index] | Bytes[2 * Index + 1] << 8);
}

bool AllZero(const std::uint8_t *Bytes, std::size_t Count) {
    std::uint64_t Any = 0; // eight bytes at a time, without an early exit
    std::size_t Index = 0;
    for (; Index + sizeof Any <= Count; Index += sizeof Any) {
        std::uint64_t Word;
        std::memcpy(&Word, Bytes + Index, sizeof Word);
        Any |= Word;
    }
    for (; Index < Count; ++Index)
        Any |= Bytes[Index];
    return Any == 0;
}

} // namespace

// The product as the compiler forms it, (ac - bd) + (ad + bc)i, without its recovery of
// infinities and NaNs, which these finite sums never reach: the same bits, quicker.
TMatchedDemodulator::TComplex TMatchedDemodulator::Times(TComplex A, TComplex B) {
    return {A.real() * B.real() - A.imag() * B.imag(), A.real() * B.imag() + A.imag() * B.real()};
}

namespace {

// How clearly a window holds one tone rather than the other: largest when it covers
// one bit exactly, least when it straddles two different ones.
float Contrast(const std::complex<float> (&Tone)[2]) {
    return std::abs(std::norm(Tone[0]) - std::norm(Tone[1]));
}

} // namespace

// Second-order Butterworth high-pass, audio-EQ cookbook design.
TMatchedDemodulator::THighPass::THighPass() {
    const float W = 2.0f * std::numbers::pi_v<float> * HighPassHz / SampleRate;
    const float Alpha = std::sin(W) / std::numbers::sqrt2_v<float>, Cos = std::cos(W);
    const float A0 = 1.0f + Alpha;
    B0 = B2 = (1.0f + Cos) / 2.0f / A0;
    B1 = -2.0f * B0;
    A1 = -2.0f * Cos / A0;
    A2 = (1.0f - Alpha) / A0;
}

float TMatchedDemodulator::THighPass::Step(float Sample) {
    float Out = B0 * Sample + B1 * X1 + B2 * X2 - A1 * Y1 - A2 * Y2;
    // Ringing into digital silence ends once it is far below the input's smallest step,
    // rather than dwindling through the slow denormal numbers.
    if (Sample == 0.0f && X1 == 0.0f && std::abs(Out) < RestLevel)
        Out = 0.0f;
    X2 = X1, X1 = Sample, Y2 = Y1, Y1 = Out;
    return Out;
}

bool TMatchedDemodulator::THighPass::AtRest() const {
    return X1 == 0.0f && X2 == 0.0f && Y1 == 0.0f && Y2 == 0.0f;
}

TMatchedDemodulator::TMatchedDemodulator() : FUntilWindow(SamplesPerBit) {
    for (int From = 0; From < 2; ++From)
        for (int To = 0; To < 2; ++To) {
            FTurn[From][To] = 1.0f;
            SetTurnBack(From, To);
        }
    FPeriods.reserve(512);
}

const std::vector<TMatchedPeriod> &TMatchedDemodulator::Demodulate(const std::uint8_t *Bytes,
                                                                   std::uint32_t Count) {
    FPeriods.clear();
    if (AtRest() && AllZero(Bytes, 2 * std::size_t(Count))) {
        PassSilence(Count);
        return FPeriods;
    }
    return DemodulatePlain(Bytes, Count);
}

const std::vector<TMatchedPeriod> &TMatchedDemodulator::DemodulatePlain(const std::uint8_t *Bytes,
                                                                        std::uint32_t Count) {
    FPeriods.clear();
    FInput = Bytes, FInputCount = Count, FFiltered = 0;
    std::uint32_t Close = std::uint32_t(FUntilWindow) - 1; // the sample that closes the window
    for (; Close < Count; Close += std::uint32_t(FUntilWindow)) {
        FilterTo(Close + 1);
        CloseWindow(Close, FSamples.data() + FWrite - (FFiltered - (Close + 1)));
    }
    FilterTo(Count);
    FUntilWindow = int(Close + 1 - Count);
    FInput = nullptr, FInputCount = FFiltered = 0;
    return FPeriods;
}

// Sample by sample, with the state in local copies that the compiler can keep in
// registers, up to To but not beyond the end of the line.
void TMatchedDemodulator::Filter(std::uint32_t To) {
    To = std::min(To, FFiltered + std::uint32_t(FSamples.size() - std::size_t(FWrite)));
    THighPass HighPass = FHighPass;
    float *Write = FSamples.data() + FWrite;
    for (std::uint32_t Index = FFiltered; Index < To; ++Index)
        *Write++ = HighPass.Step(SampleAt(FInput, Index));
    FHighPass = HighPass, FWrite = int(Write - FSamples.data()), FFiltered = To;
}

void TMatchedDemodulator::FilterTo(std::uint32_t To) {
    while (FFiltered < To) {
        if (FWrite == int(FSamples.size())) { // the next window needs at most the newest RingSize
            std::copy(FSamples.end() - RingSize, FSamples.end(), FSamples.begin());
            FWrite = RingSize;
        }
        Filter(To);
    }
}

// Filters a little of the samples after the window in hand, so that the processor can
// run the high-pass, one sample after the other, beside the window's work.
void TMatchedDemodulator::FilterAhead(std::uint32_t Close) {
    constexpr std::uint32_t Part = SamplesPerBit / 4, Farthest = 2 * SamplesPerBit;
    if (FFiltered < FInputCount)
        Filter(std::min({FFiltered + Part, FInputCount, Close + 1 + Farthest}));
}

// The newest RingSize samples before End are zero.
bool TMatchedDemodulator::Quiet(const float *End) {
    return std::all_of(End - RingSize, End, [](float Sample) { return Sample == 0.0f; });
}

bool TMatchedDemodulator::AtRest() const {
    return FHighPass.AtRest() && Quiet(FSamples.data() + FWrite);
}

// Digital silence with the high-pass at rest: every sample of the line and every
// correlation stays zero, so only the clock, the squelch and the bits on their way
// move on, exactly as they would sample by sample.
void TMatchedDemodulator::PassSilence(std::uint32_t Count) {
    std::uint32_t Index = 0;
    while (Count - Index >= std::uint32_t(FUntilWindow)) {
        Index += std::uint32_t(FUntilWindow);
        CloseWindow(Index - 1, nullptr);
    }
    FUntilWindow -= int(Count - Index); // the newest samples stay the zeros they are
}

// Each of the four sums is taken in four lanes, every fourth product to a lane, and the
// lanes are added as (0 + 2) + (1 + 3): the plain and the vector way give the same bits.
static_assert(TMatchedDemodulator::SamplesPerBit % 4 == 0);

TMatchedDemodulator::TToneCorrelation TMatchedDemodulator::CorrelatePlain(const float *Samples) {
    float Sums[4];
    for (int Wave = 0; Wave < 4; ++Wave) {
        float Lanes[4] = {};
        for (int Index = 0; Index < SamplesPerBit; ++Index)
            Lanes[Index % 4] += Samples[Index] * Tables.Wave[Wave][Index];
        Sums[Wave] = (Lanes[0] + Lanes[2]) + (Lanes[1] + Lanes[3]);
    }
    return {{{Sums[0], Sums[1]}, {Sums[2], Sums[3]}}};
}

#if defined(__SSE2__)
// Two windows at a time: their eight sums fill the registers and overlap in the processor.
TMatchedDemodulator::TWindowCorrelations
TMatchedDemodulator::CorrelateVector(const TWindowStarts &Starts) {
    static_assert(WindowsPerBit % 2 == 0);
    TWindowCorrelations Result;
    for (int Pair = 0; Pair < WindowsPerBit; Pair += 2) {
        __m128 Lanes[2][4];
#pragma GCC unroll 8
        for (int Window = 0; Window < 2; ++Window)
            for (int Wave = 0; Wave < 4; ++Wave)
                Lanes[Window][Wave] = _mm_setzero_ps();
#pragma GCC unroll 10
        for (int Index = 0; Index < SamplesPerBit; Index += 4)
#pragma GCC unroll 2
            for (int Window = 0; Window < 2; ++Window) {
                const __m128 Four = _mm_loadu_ps(Starts[Pair + Window] + Index);
#pragma GCC unroll 4
                for (int Wave = 0; Wave < 4; ++Wave)
                    Lanes[Window][Wave] =
                        _mm_add_ps(Lanes[Window][Wave],
                                   _mm_mul_ps(Four, _mm_load_ps(Tables.Wave[Wave] + Index)));
            }
#pragma GCC unroll 2
        for (int Window = 0; Window < 2; ++Window) {
            float Sums[4];
#pragma GCC unroll 4
            for (int Wave = 0; Wave < 4; ++Wave) {
                const __m128 Sum = Lanes[Window][Wave];
                const __m128 Halves = _mm_add_ps(Sum, _mm_movehl_ps(Sum, Sum));
                Sums[Wave] = _mm_cvtss_f32(_mm_add_ss(Halves, _mm_shuffle_ps(Halves, Halves, 1)));
            }
            Result[std::size_t(Pair + Window)] = {{{Sums[0], Sums[1]}, {Sums[2], Sums[3]}}};
        }
    }
    return Result;
}
#else
TMatchedDemodulator::TWindowCorrelations
TMatchedDemodulator::CorrelateVector(const TWindowStarts &Starts) {
    TWindowCorrelations Result;
    for (std::size_t Window = 0; Window < Starts.size(); ++Window)
        Result[Window] = CorrelatePlain(Starts[Window]);
    return Result;
}
#endif

#if defined(ZEL_WIDE_VECTORS)
// The sums of two waves in one register of eight lanes, each half as CorrelateVector's.
__attribute__((target("avx"))) static TMatchedDemodulator::TWindowCorrelations
CorrelateEight(const TMatchedDemodulator::TWindowStarts &Starts) {
    constexpr int Windows = TMatchedDemodulator::WindowsPerBit;
    __m256 Lanes[Windows][2];
#pragma GCC unroll 8
    for (int Window = 0; Window < Windows; ++Window)
        Lanes[Window][0] = Lanes[Window][1] = _mm256_setzero_ps();
#pragma GCC unroll 10
    for (int Step = 0; Step < TMatchedDemodulator::SamplesPerBit / 4; ++Step)
#pragma GCC unroll 4
        for (int Window = 0; Window < Windows; ++Window) {
            const __m128 Four = _mm_loadu_ps(Starts[std::size_t(Window)] + 4 * Step);
            const __m256 Twice = _mm256_set_m128(Four, Four);
#pragma GCC unroll 2
            for (int Pair = 0; Pair < 2; ++Pair)
                Lanes[Window][Pair] =
                    _mm256_add_ps(Lanes[Window][Pair],
                                  _mm256_mul_ps(Twice, _mm256_load_ps(Paired.Pair[Pair][Step])));
        }
    TMatchedDemodulator::TWindowCorrelations Result;
#pragma GCC unroll 4
    for (int Window = 0; Window < Windows; ++Window) {
        float Sums[4];
#pragma GCC unroll 4
        for (int Wave = 0; Wave < 4; ++Wave) {
            const __m256 Pair = Lanes[Window][Wave / 2];
            const __m128 Sum =
                Wave % 2 ? _mm256_extractf128_ps(Pair, 1) : _mm256_castps256_ps128(Pair);
            const __m128 Halves = _mm_add_ps(Sum, _mm_movehl_ps(Sum, Sum));
            Sums[Wave] = _mm_cvtss_f32(_mm_add_ss(Halves, _mm_shuffle_ps(Halves, Halves, 1)));
        }
        Result[std::size_t(Window)] = {{{Sums[0], Sums[1]}, {Sums[2], Sums[3]}}};
    }
    return Result;
}
#endif

TMatchedDemodulator::TWindowCorrelations
TMatchedDemodulator::CorrelateWide(const TWindowStarts &Starts) {
#if defined(ZEL_WIDE_VECTORS)
    static const bool Eight = [] { // asked once, whenever the first window closes
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    if (Eight)
        return CorrelateEight(Starts);
#endif
    return CorrelateVector(Starts);
}

// A bit's window closes LookAround samples after its end, so that the late window fits.
// End: just after the closing sample in the line; none in digital silence.
void TMatchedDemodulator::CloseWindow(std::uint32_t SampleIndex, const float *End) {
    // Early, late, on time and half a bit early; silence leaves nothing but zeros to
    // correlate.
    constexpr int OnTime = RingSize - LookAround;
    constexpr int Ends[WindowsPerBit] = {OnTime - LookAround, OnTime + LookAround, OnTime,
                                         OnTime - SamplesPerBit / 2};
    FilterAhead(SampleIndex);
    TWindowCorrelations Windows{};
    if (End && !Quiet(End)) {
        TWindowStarts Starts;
        for (std::size_t Window = 0; Window < Starts.size(); ++Window)
            Starts[Window] = End - RingSize + Ends[Window] - SamplesPerBit;
        Windows = CorrelateWide(Starts);
    }
    FilterAhead(SampleIndex);
    const float Early = Contrast(Windows[0].Tone), Late = Contrast(Windows[1].Tone);
    FNewest = (FNewest + 1) & (HistorySize - 1);
    Record(0).Set(Windows[2]);
    const int Shift = std::clamp(FWindowLength - SamplesPerBit, -MaxShift, MaxShift);
    Record(0).Back[0] = Shifts.Back[Shift + MaxShift][0];
    Record(0).Back[1] = Shifts.Back[Shift + MaxShift][1];
    DecideBit(SampleIndex);
    // Late outweighs early where the window sits before the bit: move it on.
    // Noise and near-silence steer the clock no more than they must.
    const float Signal =
        std::clamp((FQuality - NoiseQuality) / (OpenAbove - NoiseQuality), 0.0f, 1.0f);
    AdjustClock(Signal * (Late - Early) / (Late + Early + Tiny));
    SeekHalfBit(Contrast(Windows[3].Tone), Contrast(Windows[2].Tone));
    FWindowLength = FUntilWindow;
}

void TMatchedDemodulator::SeekHalfBit(float Half, float OnTimeContrast) {
    FHalfBitLead += HalfBitSmoothing *
                    ((Half - OnTimeContrast) / (Half + OnTimeContrast + Tiny) - FHalfBitLead);
    if (FHalfBitLead > (FOpen ? LockedHalfBitJump : HalfBitJump)) {
        // Either way lands between the bits; alternating keeps the count of periods true.
        FJumpBack = !FJumpBack;
        FUntilWindow = std::max(1, FUntilWindow + (FJumpBack ? -1 : 1) * SamplesPerBit / 2);
        FHalfBitLead = 0;
    }
}

void TMatchedDemodulator::AdjustClock(float Error) {
    const float Step = FPeriod + FFraction + (FOpen ? LockedStep : SeekStep) * Error;
    FPeriod = std::clamp(FPeriod + Drift * Error, MinPeriod, MaxPeriod);
    if (!FOpen)
        FPeriod += PeriodRelaxation * (SamplesPerBit - FPeriod);
    FUntilWindow = std::max(1, int(Step));
    FFraction = Step - float(FUntilWindow);
}

// Decides the bit FutureBits back: the decided bits give a phase reference, every choice
// of it and the bits after it is tried against it, the sequence whose tones add up best
// wins.
void TMatchedDemodulator::DecideBit(std::uint32_t SampleIndex) {
    // The decided bits of the quality window, turned back to the oldest one's start.
    TComplex Known = 0, Phase = 1;
    float Energy = 0;
    int Previous = Record(FutureBits + PastBits).Bit;
    for (int Age = FutureBits + PastBits; Age >= 0; --Age) {
        Energy += Record(Age).Energy;
        if (Age <= FutureBits)
            continue;
        const int Bit = Record(Age).Bit;
        if (Age < FutureBits + PastBits)
            Phase = Times(Phase, TurnBack(Previous, Age, Bit));
        Known += Times(Phase, Record(Age).Correlation.Tone[Bit]);
        Previous = Bit;
    }

    FilterAhead(SampleIndex);
    TComplex ChoiceSum = 0;
    const int Bit = ChooseBit(Previous, ChoiceSum);
    FilterAhead(SampleIndex);
    TBitRecord &Decided = Record(FutureBits);
    Decided.Bit = Bit;
    FReference =
        Times(ReferenceDecay * FReference, std::conj(TurnBack(Previous, FutureBits, Bit))) +
        Decided.Correlation.Tone[Bit];

    constexpr float Window = FutureBits + PastBits + 1;
    const float Best = std::norm(Known + Times(Phase, ChoiceSum));
    FQuality += QualitySmoothing * (Best / (Window * Energy + Tiny) - FQuality);
    FOpen = FQuality > (FOpen ? CloseBelow : OpenAbove);
    if (FOpen)
        FSignalEnergy +=
            SignalEnergySmoothing * (std::norm(Decided.Correlation.Tone[Bit]) - FSignalEnergy);
    else if (FOpenRun == 0)
        ForgetStation();
    // Learnt on a signal that is not yet clear too: the turns between alternating bits
    // of a preamble are not quite those that the data taught.
    if (FOpen || FQuality > LearnAbove)
        LearnRotation(Bit);
    else if (FOpenRun == 0)
        RelaxTurns();
    Release(SampleIndex, Bit, FOpen);
}

// No tones at all in the bits from FutureBits back to Last: silence.
bool TMatchedDemodulator::NothingFrom(int Last) const {
    for (int Age = FutureBits; Age >= Last; --Age)
        if (Record(Age).Energy != 0.0f)
            return false;
    return true;
}

// Tries every choice of the bit FutureBits back and of the bits after it against the
// phase reference; returns the best choice's first bit and, in ChoiceSum, its bits'
// tones turned back to the start of Previous, the newest decided bit.
int TMatchedDemodulator::ChooseBit(int Previous, TComplex &ChoiceSum) const {
    // The newest bits that hold too little energy, taken together, are after the carrier.
    int Last = 0;
    float Trailing = 0;
    for (int Age = 0; Age < FutureBits; ++Age) {
        Trailing += Record(Age).Energy;
        if (Trailing < CarrierGone * FSignalEnergy * float(Age + 1))
            Last = Age + 1;
    }
    if (FReference == TComplex(0) && NothingFrom(Last)) { // every choice scores 0
        ChoiceSum = 0;
        return 0;
    }
    TChoiceTerms Terms; // every term set below
    Terms.Reference = FReference, Terms.Previous = Previous;
    std::copy(&FTurnBack[0][0], &FTurnBack[0][0] + 4, &Terms.Turn[0][0]);
    for (int Level = 0; Level <= FutureBits; ++Level) {
        const TBitRecord &Bits = Record(FutureBits - Level);
        for (int Bit = 0; Bit < 2; ++Bit)
            Terms.Tone[Level][Bit] = Bits.Correlation.Tone[Bit],
            Terms.Shift[Level][Bit] = Bits.Back[Bit];
    }
    TChoiceSums Sums;
    SumChoicesVector(Terms, Sums);
    // The first of the best choices with the bits before Last, in the order in which the
    // oldest bit counts most.
    constexpr int Reversed[Choices] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    static_assert(FutureBits == 3);
    const int Levels = FutureBits + 1 - Last, First = (1 << Levels) - 2;
    int Best = First;
    float BestNorm = -1;
    for (int Order = 0; Order < 1 << Levels; ++Order) {
        const int Node = First + (Reversed[Order] >> (FutureBits + 1 - Levels));
        if (Sums.Norm[Node] > BestNorm)
            Best = Node, BestNorm = Sums.Norm[Node];
    }
    ChoiceSum = TComplex(Sums.Re[Best], Sums.Im[Best]) - FReference;
    return (Best - First) & 1;
}

// Grown a bit at a time, each choice from the one that shares all but its newest bit.
void TMatchedDemodulator::SumChoicesPlain(const TChoiceTerms &Terms, TChoiceSums &Sums) {
    TComplex Turned[2 * Choices - 2];
    for (int Level = 0; Level <= FutureBits; ++Level) {
        const int Nodes = 2 << Level, First = Nodes - 2, ParentFirst = Nodes / 2 - 2;
        for (int Node = 0; Node < Nodes; ++Node) {
            const int Bit = Node >> Level, Parent = ParentFirst + (Node & (Nodes / 2 - 1));
            const int Before = Level == 0 ? Terms.Previous : Node >> (Level - 1) & 1;
            const TComplex ParentTurned = Level == 0 ? TComplex(1) : Turned[Parent];
            const TComplex ParentSum =
                Level == 0 ? Terms.Reference : TComplex(Sums.Re[Parent], Sums.Im[Parent]);
            const TComplex Back = Times(Terms.Turn[Before][Bit], Terms.Shift[Level][Bit]);
            Turned[First + Node] = Times(ParentTurned, Back);
            const TComplex Sum = ParentSum + Times(Turned[First + Node], Terms.Tone[Level][Bit]);
            Sums.Re[First + Node] = Sum.real(), Sums.Im[First + Node] = Sum.imag();
            Sums.Norm[First + Node] = std::norm(Sum);
        }
    }
}

#if defined(__SSE2__)
namespace {

// Four complex numbers, one in each lane.
struct TLanes {
    __m128 Re, Im;
    static TLanes Of(std::complex<float> A, std::complex<float> B, std::complex<float> C,
                     std::complex<float> D) {
        return {_mm_setr_ps(A.real(), B.real(), C.real(), D.real()),
                _mm_setr_ps(A.imag(), B.imag(), C.imag(), D.imag())};
    }
    static TLanes All(std::complex<float> A) {
        return {_mm_set1_ps(A.real()), _mm_set1_ps(A.imag())};
    }
    template <int A, int B, int C, int D> TLanes Pick() const { // lanes A, B, C and D
        constexpr int Lanes = _MM_SHUFFLE(D, C, B, A);
        return {_mm_shuffle_ps(Re, Re, Lanes), _mm_shuffle_ps(Im, Im, Lanes)};
    }
    // Stores the four and their norms.
    void Store(float *ToRe, float *ToIm, float *ToNorm) const {
        _mm_storeu_ps(ToRe, Re), _mm_storeu_ps(ToIm, Im);
        _mm_storeu_ps(ToNorm, _mm_add_ps(_mm_mul_ps(Re, Re), _mm_mul_ps(Im, Im)));
    }
    TLanes operator*(TLanes B) const { // as TMatchedDemodulator::Times, lane by lane
        return {_mm_sub_ps(_mm_mul_ps(Re, B.Re), _mm_mul_ps(Im, B.Im)),
                _mm_add_ps(_mm_mul_ps(Re, B.Im), _mm_mul_ps(Im, B.Re))};
    }
    TLanes operator+(TLanes B) const { return {_mm_add_ps(Re, B.Re), _mm_add_ps(Im, B.Im)}; }
};

} // namespace

// The same sums four choices at a time: the first bit's two plainly, then one vector of
// the second bit's four, two of the third's and four of the fourth's. The turns back of
// a level, lane by lane, are those from bit before 0, 1, 0, 1 to bit 0, 0, 1, 1.
void TMatchedDemodulator::SumChoicesVector(const TChoiceTerms &Terms, TChoiceSums &Sums) {
    static_assert(FutureBits == 3);
    const auto &Turn = Terms.Turn;
    const auto &Tone = Terms.Tone, &Shift = Terms.Shift;
    const TLanes Turns = TLanes::Of(Turn[0][0], Turn[1][0], Turn[0][1], Turn[1][1]);
    const auto BackAt = [&](int Level) {
        return Turns *
               TLanes::Of(Shift[Level][0], Shift[Level][0], Shift[Level][1], Shift[Level][1]);
    };
    TComplex First[2], FirstTurned[2];
    for (int Bit = 0; Bit < 2; ++Bit) {
        FirstTurned[Bit] = Times(TComplex(1), Times(Turn[Terms.Previous][Bit], Shift[0][Bit]));
        First[Bit] = Terms.Reference + Times(FirstTurned[Bit], Tone[0][Bit]);
        Sums.Re[Bit] = First[Bit].real(), Sums.Im[Bit] = First[Bit].imag();
        Sums.Norm[Bit] = std::norm(First[Bit]);
    }
    const TLanes SecondTurned =
        TLanes::Of(FirstTurned[0], FirstTurned[1], FirstTurned[0], FirstTurned[1]) * BackAt(1);
    const TLanes Second = TLanes::Of(First[0], First[1], First[0], First[1]) +
                          SecondTurned * TLanes::Of(Tone[1][0], Tone[1][0], Tone[1][1], Tone[1][1]);
    Second.Store(Sums.Re + 2, Sums.Im + 2, Sums.Norm + 2);
    const TLanes ThirdBack = BackAt(2);
    const TLanes ThirdTurned[2] = {SecondTurned * ThirdBack.Pick<0, 0, 1, 1>(),
                                   SecondTurned * ThirdBack.Pick<2, 2, 3, 3>()};
    TLanes Third[2];
    for (int Bit = 0; Bit < 2; ++Bit) {
        Third[Bit] = Second + ThirdTurned[Bit] * TLanes::All(Tone[2][Bit]);
        Third[Bit].Store(Sums.Re + 6 + 4 * Bit, Sums.Im + 6 + 4 * Bit, Sums.Norm + 6 + 4 * Bit);
    }
    const TLanes FourthBack = BackAt(3);
    const TLanes FourthBacks[4] = {FourthBack.Pick<0, 0, 0, 0>(), FourthBack.Pick<1, 1, 1, 1>(),
                                   FourthBack.Pick<2, 2, 2, 2>(), FourthBack.Pick<3, 3, 3, 3>()};
    for (int Quarter = 0; Quarter < 4; ++Quarter) {
        const int Before = Quarter & 1, Bit = Quarter >> 1;
        const TLanes Fourth =
            Third[Before] + ThirdTurned[Before] * FourthBacks[Quarter] * TLanes::All(Tone[3][Bit]);
        Fourth.Store(Sums.Re + 14 + 4 * Quarter, Sums.Im + 14 + 4 * Quarter,
                     Sums.Norm + 14 + 4 * Quarter);
    }
}
#else
void TMatchedDemodulator::SumChoicesVector(const TChoiceTerms &Terms, TChoiceSums &Sums) {
    SumChoicesPlain(Terms, Sums);
}
#endif

// Bits leave RunLength periods after their decision, and only from a run of at least
// RunLength open periods: noise that opens the squelch for a moment gives no bits. A
// period or two of doubt inside a run keeps its bits: dropping one would cost a frame.
void TMatchedDemodulator::Release(std::uint32_t SampleIndex, int Bit, bool Open) {
    TDelayedBit &Slot = FDelayed[FDelayedNext];
    FPeriods.push_back({SampleIndex, static_cast<std::int8_t>(Slot.Confirmed ? Slot.Bit : -1)});
    if (Open) {
        FRunId += FOpenRun == 0;
        ++FOpenRun;
        FGap = 0;
    } else if (FOpenRun > 0 && FGap < BridgedGap) {
        ++FGap;
    } else {
        FOpenRun = 0;
    }
    const std::uint32_t Run = FOpenRun > 0 ? FRunId : 0;
    Slot = {static_cast<std::int8_t>(Bit), Run, Run != 0 && FOpenRun >= RunLength};
    if (Open && FOpenRun == RunLength)
        for (TDelayedBit &Earlier : FDelayed)
            Earlier.Confirmed = Earlier.Confirmed || Earlier.Run == FRunId;
    FDelayedNext = (FDelayedNext + 1) % RunLength;
}

void TMatchedDemodulator::LearnRotation(int Bit) {
    const TBitRecord &Before = Record(FutureBits + 1);
    TComplex Step = Times(Record(FutureBits).Correlation.Tone[Bit],
                          std::conj(Before.Correlation.Tone[Before.Bit])) *
                    (Before.Bit ? -1.0f : 1.0f);
    Step = Times(Step, Record(FutureBits).Back[Bit]);
    Step /= std::sqrt(std::norm(Step)) + Tiny;
    TComplex &Turn = FTurn[Before.Bit][Bit];
    Turn += TurnLearning * (Step - Turn);
    SetTurnBack(Before.Bit, Bit);
}

// Once the squelch has closed for longer than a run bridges, the station is gone: its
// level is forgotten, so that the next station, however much weaker, is not taken for
// a carrier gone and decided without look-ahead (its quality then stays below the
// squelch's opening level for good). Reset rather than decayed: a station 40 dB weaker
// 50 ms (60 bits) later needs the level to fall 4 000 times in 60 bits, a reset in all
// but name, and a decay of 1 % a bit lost 96 of the radio net's 600 messages. Judging
// "carrier gone" only while the squelch is open, the level kept, lost 1 of 600: the
// squelch flaps on a weaker station until its level is learnt. The cost: between
// messages of one station, noise no longer falls below its level and is decided as
// fully as a signal (white noise for 90 % success: 5.5 dB as before, band-limited
// 5.6 dB from 5.3 dB).
void TMatchedDemodulator::ForgetStation() {
    FSignalEnergy = 0;
}

// Turns within a hundredth of a degree of the ideal ones become them, so that long
// silence costs nothing once they have.
void TMatchedDemodulator::RelaxTurns() {
    constexpr float Settled = 1e-8f;
    for (int From = 0; From < 2; ++From)
        for (int To = 0; To < 2; ++To) {
            TComplex &Turn = FTurn[From][To];
            if (Turn == TComplex(1.0f))
                continue;
            Turn += TurnRelaxation * (1.0f - Turn);
            if (std::norm(1.0f - Turn) < Settled)
                Turn = 1.0f;
            SetTurnBack(From, To);
        }
}

// Turned back: from a bit's start to its predecessor's; a 1 bit's tone ends half a
// cycle on.
void TMatchedDemodulator::SetTurnBack(int From, int To) {
    const TComplex Turn = FTurn[From][To];
    FTurnBack[From][To] =
        std::conj(Turn) / (std::sqrt(std::norm(Turn)) + Tiny) * (From ? -1.0f : 1.0f);
}
