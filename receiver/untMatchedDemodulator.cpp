#include "receiver/untMatchedDemodulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

constexpr float SampleRate = TMatchedKernels::SampleRate;
// Below the tones: takes out DC and mains hum, leaves the tones as they are.
constexpr float HighPassHz = 500.0f;
// The early-late gate compares windows this many samples early and late.
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
// Decision quality: 0.71 for clean FFSK, about 0.2 for noise; data carrier detect
// averages it over a few bits and comes on well above what noise reaches. Below NoiseQuality the
// clock is not steered: noise between messages, decided as fully as a signal once the station is
// forgotten, moved it at 0.15 enough that 12 % of messages at 5.5 dB were lost, 9 %
// at 0.25.
constexpr float QualitySmoothing = 0.4f;
constexpr float NoiseQuality = 0.25f;
constexpr float DcdOnAbove = 0.45f, DcdOffBelow = 0.3f;
// The clock jumps half a bit when windows half a bit away keep showing the tones more
// clearly: early-late alone would dwell there, and the preamble decodes even there.
constexpr float HalfBitSmoothing = 0.25f, HalfBitJump = 0.4f, LockedHalfBitJump = 0.6f;
constexpr float LearnAbove = 0.38f;
// The decided bits keep a phase reference, each bit weighing this much less than the
// next: longer memories suffer from the small errors of the learnt rotations.
constexpr float ReferenceDecay = 0.5f;
// The newest bits whose tones hold, on average, less than this share of a decided bit's
// energy are taken as the carrier gone: the bits before them are decided without them.
constexpr float CarrierGone = 0.4f;
constexpr float SignalEnergySmoothing = 0.125f;
constexpr float RotationLearning = 1.0f / 16.0f;
// Without a station the learnt rotations relax to the ideal ones each bit by this share: noise that
// looks clear for a moment teaches them nonsense, and a weak station after seconds of
// noise with DCD on lost its first frame (the radio net: 3 939 of 4 000 messages
// without, 3 998 with).
constexpr float RotationRelaxation = 0.1f;
constexpr float Tiny = 1e-20f;
// Far below one step of 16-bit input.
constexpr float RestLevel = 1e-4f;

using TWindowCorrelations = TMatchedKernels::TWindowCorrelations;

TComplex Times(TComplex A, TComplex B) {
    return TMatchedKernels::Times(A, B);
}

// Each tone's derotation for a window that starts Shift samples from where it would
// have: windows MaxShift samples off either way are covered.
constexpr int MaxShift = 2 * TMatchedDemodulator::SamplesPerBit;
struct TShiftTables {
    TComplex Back[2 * MaxShift + 1][2];
    TShiftTables() {
        for (int Shift = -MaxShift; Shift <= MaxShift; ++Shift)
            for (int Tone = 0; Tone < 2; ++Tone)
                Back[Shift + MaxShift][Tone] =
                    std::polar(1.0f, float(-2.0 * std::numbers::pi * TMatchedKernels::ToneHz[Tone] *
                                           Shift / SampleRate));
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

// How clearly a window holds one tone rather than the other: largest when it covers
// one bit exactly, least when it straddles a mark and a space.
float Contrast(const TToneCorrelation &Window) {
    return std::abs(std::norm(Window.Tone[0]) - std::norm(Window.Tone[1]));
}

// The windows of a bit, as the kernels take them.
enum TWindow { Early, Late, OnTime, HalfBitEarly };

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
            FRotation[From][To] = 1.0f;
            SetDerotation(From, To);
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

// ---- Filtering the input ----

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

// Filters a little of the samples after the window in hand. The high-pass runs one
// sample after the other, each waiting for the one before; given a part between the
// steps of a bit period, the processor runs it beside them rather than after them.
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

// ---- A bit period ----

// A bit's window closes LookAround samples after its end, so that the late window fits.
// End: just after the closing sample in the line; none in digital silence.
// Between the steps a quarter of a bit of the samples ahead is filtered: the processor
// runs that chain beside the steps. Half a bit before and after the correlator instead,
// the matched benchmarks ran 7 % slower.
void TMatchedDemodulator::CloseWindow(std::uint32_t SampleIndex, const float *End) {
    FilterAhead(SampleIndex);
    const TWindowCorrelations Windows = Correlate(End);
    FilterAhead(SampleIndex);
    PushBit(Windows[OnTime]);
    const TDecidedBits Decided = DecidedBits();
    FilterAhead(SampleIndex);
    TCandidate Best; // filled in rather than returned: GCC notes an old ABI change
    DetectSequence(Decided.Newest, Best);
    FilterAhead(SampleIndex);
    DecideBit(Decided, Best);
    Release(SampleIndex, Best.Bit);
    SteerBitClock(Windows);
}

// The correlator: early, late, on time and half a bit early against the mark and space
// tones; silence leaves nothing but zeros to correlate.
TWindowCorrelations TMatchedDemodulator::Correlate(const float *End) const {
    constexpr int OnTimeEnd = RingSize - LookAround;
    // Where each window ends in the newest RingSize samples, as TWindow lists them.
    constexpr int Ends[TMatchedKernels::WindowsPerBit] = {
        OnTimeEnd - LookAround, OnTimeEnd + LookAround, OnTimeEnd, OnTimeEnd - SamplesPerBit / 2};
    if (!End || Quiet(End))
        return {};
    TMatchedKernels::TWindowStarts Starts;
    for (std::size_t Window = 0; Window < Starts.size(); ++Window)
        Starts[Window] = End - RingSize + Ends[Window] - SamplesPerBit;
    return FKernels.Correlate(Starts);
}

// The on-time window becomes the newest bit, still to be decided, off the bit grid by
// as much as the last window was longer or shorter than a bit.
void TMatchedDemodulator::PushBit(const TToneCorrelation &OnTime) {
    FNewest = (FNewest + 1) & (HistorySize - 1);
    TBitRecord &Newest = Record(0);
    Newest.Correlation = OnTime;
    Newest.Energy = std::norm(OnTime.Tone[0]) + std::norm(OnTime.Tone[1]);
    const int Shift = std::clamp(FWindowLength - SamplesPerBit, -MaxShift, MaxShift);
    Newest.ToGrid[0] = Shifts.Back[Shift + MaxShift][0];
    Newest.ToGrid[1] = Shifts.Back[Shift + MaxShift][1];
}

// The quality window's decided bits, turned back to the oldest one's start: the phase
// reference that every candidate extends.
TMatchedDemodulator::TDecidedBits TMatchedDemodulator::DecidedBits() const {
    TDecidedBits Decided;
    Decided.Newest = Record(FutureBits + PastBits).Bit;
    for (int Age = FutureBits + PastBits; Age >= 0; --Age) {
        Decided.Energy += Record(Age).Energy;
        if (Age <= FutureBits)
            continue;
        const int Bit = Record(Age).Bit;
        if (Age < FutureBits + PastBits)
            Decided.Phase = Times(Decided.Phase, Derotation(Decided.Newest, Age, Bit));
        Decided.Sum += Times(Decided.Phase, Record(Age).Correlation.Tone[Bit]);
        Decided.Newest = Bit;
    }
    return Decided;
}

// Sequence detection: every candidate for the bit FutureBits back and the bits after it
// is tried against the phase reference; the first of the best, in the order in which
// the oldest bit counts most, wins. Previous: the newest decided bit.
void TMatchedDemodulator::DetectSequence(int Previous, TCandidate &Best) const {
    const int Length = CandidateLength();
    if (FReference == TComplex(0) && SilentFrom(FutureBits + 1 - Length)) {
        Best = {}; // every candidate scores 0
        return;
    }
    TCandidateTerms Terms; // every term set below
    Terms.Reference = FReference, Terms.Previous = Previous;
    std::copy(&FDerotation[0][0], &FDerotation[0][0] + 4, &Terms.Derotation[0][0]);
    for (int Position = 0; Position <= FutureBits; ++Position) {
        const TBitRecord &Bits = Record(FutureBits - Position);
        for (int Bit = 0; Bit < 2; ++Bit)
            Terms.Tone[Position][Bit] = Bits.Correlation.Tone[Bit],
            Terms.ToGrid[Position][Bit] = Bits.ToGrid[Bit];
    }
    TCandidateSums Sums;
    FKernels.SumCandidates(Terms, Sums);
    constexpr int Reversed[TCandidateSums::Candidates] = {0, 8, 4, 12, 2, 10, 6, 14,
                                                          1, 9, 5, 13, 3, 11, 7, 15};
    static_assert(FutureBits == 3);
    const int First = (1 << Length) - 2;
    int BestNode = First;
    float BestNorm = -1;
    for (int Order = 0; Order < 1 << Length; ++Order) {
        const int Node = First + (Reversed[Order] >> (FutureBits + 1 - Length));
        if (Sums.Norm[Node] > BestNorm)
            BestNode = Node, BestNorm = Sums.Norm[Node];
    }
    Best = {(BestNode - First) & 1, TComplex(Sums.Re[BestNode], Sums.Im[BestNode]) - FReference};
}

// The candidates' length: the newest bits that hold too little energy, taken together,
// are after the carrier, and left out.
int TMatchedDemodulator::CandidateLength() const {
    int Last = 0;
    float Trailing = 0;
    for (int Age = 0; Age < FutureBits; ++Age) {
        Trailing += Record(Age).Energy;
        if (Trailing < CarrierGone * FSignalEnergy * float(Age + 1))
            Last = Age + 1;
    }
    return FutureBits + 1 - Last;
}

// No tones at all in the bits from FutureBits back to Last: silence.
bool TMatchedDemodulator::SilentFrom(int Last) const {
    for (int Age = FutureBits; Age >= Last; --Age)
        if (Record(Age).Energy != 0.0f)
            return false;
    return true;
}

// The bit FutureBits back becomes the best candidate's first: it joins the phase
// reference, the decision's quality drives data carrier detect, and the station's
// rotations are learnt from it.
void TMatchedDemodulator::DecideBit(const TDecidedBits &Decided, const TCandidate &Best) {
    TBitRecord &Bit = Record(FutureBits);
    Bit.Bit = Best.Bit;
    FReference = Times(ReferenceDecay * FReference,
                       std::conj(Derotation(Decided.Newest, FutureBits, Best.Bit))) +
                 Bit.Correlation.Tone[Best.Bit];
    constexpr float Window = FutureBits + PastBits + 1;
    const float Norm = std::norm(Decided.Sum + Times(Decided.Phase, Best.Sum));
    UpdateCarrierDetect(Norm / (Window * Decided.Energy + Tiny));
    if (FCarrierDetect)
        FSignalEnergy +=
            SignalEnergySmoothing * (std::norm(Bit.Correlation.Tone[Best.Bit]) - FSignalEnergy);
    else if (FDetectRun == 0)
        ForgetStation();
    // Learnt on a signal that is not yet clear too: the rotations between alternating
    // bits of a preamble are not quite those that the data taught.
    if (FCarrierDetect || FQuality > LearnAbove)
        LearnRotation(Best.Bit);
    else if (FDetectRun == 0)
        RelaxRotations();
}

// Data carrier detect: on while the smoothed quality of the decisions stays clear of
// what noise reaches, with hysteresis.
void TMatchedDemodulator::UpdateCarrierDetect(float Quality) {
    FQuality += QualitySmoothing * (Quality - FQuality);
    FCarrierDetect = FQuality > (FCarrierDetect ? DcdOffBelow : DcdOnAbove);
}

// The squelch: bits leave ConfirmRun periods after their decision, and only from a run
// of at least ConfirmRun periods of carrier detect: noise that turns it on for a moment
// gives no bits. A period or two of doubt inside a run keeps its bits: dropping one
// would cost a frame.
void TMatchedDemodulator::Release(std::uint32_t SampleIndex, int Bit) {
    TDelayedBit &Slot = FDelayed[FDelayedNext];
    FPeriods.push_back({SampleIndex, static_cast<std::int8_t>(Slot.Confirmed ? Slot.Bit : -1)});
    if (FCarrierDetect) {
        FRunId += FDetectRun == 0;
        ++FDetectRun;
        FGap = 0;
    } else if (FDetectRun > 0 && FGap < BridgedGap) {
        ++FGap;
    } else {
        FDetectRun = 0;
    }
    const std::uint32_t Run = FDetectRun > 0 ? FRunId : 0;
    Slot = {static_cast<std::int8_t>(Bit), Run, Run != 0 && FDetectRun >= ConfirmRun};
    if (FCarrierDetect && FDetectRun == ConfirmRun)
        for (TDelayedBit &Earlier : FDelayed)
            Earlier.Confirmed = Earlier.Confirmed || Earlier.Run == FRunId;
    FDelayedNext = (FDelayedNext + 1) % ConfirmRun;
}

// The bit clock: the early-late gate, and the half-bit jump that it cannot make alone.
void TMatchedDemodulator::SteerBitClock(const TWindowCorrelations &Windows) {
    // Late outweighs early where the window sits before the bit. Noise and near-silence
    // steer the clock no more than they must.
    const float EarlyContrast = Contrast(Windows[Early]), LateContrast = Contrast(Windows[Late]);
    const float Signal =
        std::clamp((FQuality - NoiseQuality) / (DcdOnAbove - NoiseQuality), 0.0f, 1.0f);
    SteerEarlyLate(Signal * (LateContrast - EarlyContrast) / (LateContrast + EarlyContrast + Tiny));
    SeekHalfBit(Contrast(Windows[HalfBitEarly]), Contrast(Windows[OnTime]));
    FWindowLength = FUntilWindow;
}

// Early-late timing: Error > 0 moves the next window's close later. Quick while seeking
// a signal, steady once DCD is on.
void TMatchedDemodulator::SteerEarlyLate(float Error) {
    const float Step = FPeriod + FFraction + (FCarrierDetect ? LockedStep : SeekStep) * Error;
    FPeriod = std::clamp(FPeriod + Drift * Error, MinPeriod, MaxPeriod);
    if (!FCarrierDetect)
        FPeriod += PeriodRelaxation * (SamplesPerBit - FPeriod);
    FUntilWindow = std::max(1, int(Step));
    FFraction = Step - float(FUntilWindow);
}

void TMatchedDemodulator::SeekHalfBit(float Half, float OnTimeContrast) {
    FHalfBitLead += HalfBitSmoothing *
                    ((Half - OnTimeContrast) / (Half + OnTimeContrast + Tiny) - FHalfBitLead);
    if (FHalfBitLead > (FCarrierDetect ? LockedHalfBitJump : HalfBitJump)) {
        // Either way lands between the bits; alternating keeps the count of periods true.
        FJumpBack = !FJumpBack;
        FUntilWindow = std::max(1, FUntilWindow + (FJumpBack ? -1 : 1) * SamplesPerBit / 2);
        FHalfBitLead = 0;
    }
}

// ---- What is learnt from the station ----

void TMatchedDemodulator::LearnRotation(int Bit) {
    const TBitRecord &Before = Record(FutureBits + 1);
    TComplex Step = Times(Record(FutureBits).Correlation.Tone[Bit],
                          std::conj(Before.Correlation.Tone[Before.Bit])) *
                    (Before.Bit ? -1.0f : 1.0f);
    Step = Times(Step, Record(FutureBits).ToGrid[Bit]);
    Step /= std::sqrt(std::norm(Step)) + Tiny;
    TComplex &Rotation = FRotation[Before.Bit][Bit];
    Rotation += RotationLearning * (Step - Rotation);
    SetDerotation(Before.Bit, Bit);
}

// Once DCD has been off for longer than a run bridges, the station is gone: its
// level is forgotten, so that the next station, however much weaker, is not taken for
// a carrier gone and decided without look-ahead (its quality then stays below the
// level that turns DCD on, for good). Reset rather than decayed: a station 40 dB weaker
// 50 ms (60 bits) later needs the level to fall 4 000 times in 60 bits, a reset in all
// but name, and a decay of 1 % a bit lost 96 of the radio net's 600 messages. Judging
// "carrier gone" only while DCD is on, the level kept, lost 1 of 600: DCD
// flaps on a weaker station until its level is learnt. The cost: between
// messages of one station, noise no longer falls below its level and is decided as
// fully as a signal (white noise for 90 % success: 5.5 dB as before, band-limited
// 5.6 dB from 5.3 dB).
void TMatchedDemodulator::ForgetStation() {
    FSignalEnergy = 0;
}

// Rotations within a hundredth of a degree of the ideal ones become them, so that long
// silence costs nothing once they have.
void TMatchedDemodulator::RelaxRotations() {
    constexpr float Settled = 1e-8f;
    for (int From = 0; From < 2; ++From)
        for (int To = 0; To < 2; ++To) {
            TComplex &Rotation = FRotation[From][To];
            if (Rotation == TComplex(1.0f))
                continue;
            Rotation += RotationRelaxation * (1.0f - Rotation);
            if (std::norm(1.0f - Rotation) < Settled)
                Rotation = 1.0f;
            SetDerotation(From, To);
        }
}

// The rotation undone: from a bit's start back to its predecessor's; a mark's tone ends
// half a cycle on.
void TMatchedDemodulator::SetDerotation(int From, int To) {
    const TComplex Rotation = FRotation[From][To];
    FDerotation[From][To] =
        std::conj(Rotation) / (std::sqrt(std::norm(Rotation)) + Tiny) * (From ? -1.0f : 1.0f);
}
