#include "receiver/untCrossingDemodulator.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::uint32_t BytesPerSample = 2;
constexpr std::int32_t BitPeriod = 40; // samples per bit at 1 200 baud
// Crossings closer than this belong to frequencies above 2 400 Hz.
constexpr std::int32_t MinCrossingSpacing = 10;
// A crossing this early in a period pulls the period's end towards it.
constexpr std::int32_t PhaseAdvanceClock = 7;
// After mirroring a sample to the awaited side, its high byte must exceed this.
constexpr std::uint8_t CandidateThreshold = 128;

// What a bit period's crossing count means: the bit (or none), the trace symbol and
// the count the next period starts from.
struct TPeriodDecision {
    std::int8_t Bit; // -1: no bit
    char Symbol;
    std::int32_t Carry;
};

TPeriodDecision DecidePeriod(std::int32_t Crossings) {
    switch (Crossings) {
    case 4: // a 1 whose last crossing already belongs to the next period
        return {1, '^', 1};
    case 3:
        return {1, '1', 0};
    case 2:
        return {0, '0', 0};
    case 1: // a 0 whose second crossing falls into the next period
        return {0, '_', -1};
    default:
        return {-1, '-', 0};
    }
}

// Little-endian: the second byte of each sample is its high byte.
std::uint8_t HighByte(const std::uint8_t *Bytes, std::uint32_t Index) {
    return Bytes[Index * BytesPerSample + 1];
}

// Mirroring turns "high byte below 127" (awaiting the non-negative side) into
// "above 128", so one comparison serves both sides.
bool IsCandidate(std::uint8_t High, bool Polarity) {
    const std::uint8_t Mirrored = Polarity ? 0xFF - High : High;
    return Mirrored > CandidateThreshold;
}

constexpr std::uint32_t WordBits = 64;

void MarkCandidatesPlain(const std::uint8_t *Bytes, std::uint32_t From, std::uint32_t Count,
                         std::uint64_t *Awaiting[2]) {
    for (std::uint32_t Index = From; Index < Count; ++Index)
        for (const bool Polarity : {false, true})
            if (IsCandidate(HighByte(Bytes, Index), Polarity))
                Awaiting[Polarity][Index / WordBits] |= std::uint64_t(1) << (Index % WordBits);
}

#if defined(__SSE2__)
constexpr std::uint32_t VectorSamples = 16;

// 16 samples at a time: their high bytes less 128 as signed bytes, where "above 128"
// is "above 0" and "below 127" is "below -1".
void MarkCandidates(const std::uint8_t *Bytes, std::uint32_t Count, std::uint64_t *Awaiting[2]) {
    std::uint32_t Index = 0;
    for (; Index + VectorSamples <= Count; Index += VectorSamples) {
        const auto *Samples = reinterpret_cast<const __m128i *>(Bytes + Index * BytesPerSample);
        const __m128i Low = _mm_srli_epi16(_mm_loadu_si128(Samples), 8);
        const __m128i High = _mm_srli_epi16(_mm_loadu_si128(Samples + 1), 8);
        const __m128i Offset = _mm_xor_si128(_mm_packus_epi16(Low, High), _mm_set1_epi8(-128));
        const auto Negative = std::uint64_t(
            std::uint16_t(_mm_movemask_epi8(_mm_cmpgt_epi8(Offset, _mm_setzero_si128()))));
        const auto NonNegative = std::uint64_t(
            std::uint16_t(_mm_movemask_epi8(_mm_cmplt_epi8(Offset, _mm_set1_epi8(-1)))));
        Awaiting[false][Index / WordBits] |= Negative << (Index % WordBits);
        Awaiting[true][Index / WordBits] |= NonNegative << (Index % WordBits);
    }
    MarkCandidatesPlain(Bytes, Index, Count, Awaiting);
}
#else
void MarkCandidates(const std::uint8_t *Bytes, std::uint32_t Count, std::uint64_t *Awaiting[2]) {
    MarkCandidatesPlain(Bytes, 0, Count, Awaiting);
}
#endif

// The first set bit from From on, or Limit if there is none before it.
std::uint32_t NextCandidate(const std::uint64_t *Words, std::uint32_t From, std::uint32_t Limit) {
    std::uint32_t Word = From / WordBits;
    std::uint64_t Bits = Words[Word] & (~std::uint64_t(0) << (From % WordBits));
    while (!Bits && ++Word * WordBits < Limit)
        Bits = Words[Word];
    return Bits ? std::min(Limit, Word * WordBits + std::uint32_t(std::countr_zero(Bits))) : Limit;
}

} // namespace

// A candidate's effect, once its sample has counted towards SinceCrossing.
void TCrossingDemodulator::TakeCandidate(TState &State) {
    if (State.SinceCrossing >= MinCrossingSpacing) {
        ++State.Crossings;
        State.SinceCrossing = 0;
        State.Polarity = !State.Polarity;
    }
    // Even a rejected crossing shows where the bit boundary lies.
    State.BitClock = std::max(State.BitClock, PhaseAdvanceClock);
}

void TCrossingDemodulator::ClosePeriod(TState &State, std::uint32_t SampleIndex) {
    const TPeriodDecision Decision = DecidePeriod(State.Crossings);
    FPeriods.push_back({SampleIndex, Decision.Bit, Decision.Symbol});
    State.Crossings = Decision.Carry;
    State.BitClock = 0;
}

const std::vector<TCrossingPeriod> &TCrossingDemodulator::Demodulate(const std::uint8_t *Bytes,
                                                                     std::uint32_t Count) {
    return DemodulateFast(Bytes, Count);
}

const std::vector<TCrossingPeriod> &TCrossingDemodulator::DemodulatePlain(const std::uint8_t *Bytes,
                                                                          std::uint32_t Count) {
    FPeriods.clear();
    TState State = FState;
    for (std::uint32_t Index = 0; Index < Count; ++Index) {
        // Saturates: only "at least MinCrossingSpacing" matters, and digital silence
        // must not overflow it.
        if (State.SinceCrossing < MinCrossingSpacing)
            ++State.SinceCrossing;
        if (IsCandidate(HighByte(Bytes, Index), State.Polarity))
            TakeCandidate(State);
        if (++State.BitClock >= BitPeriod)
            ClosePeriod(State, Index);
    }
    FState = State;
    return FPeriods;
}

// Between two events a sample only advances the counters, so whole stretches of
// samples are skipped at once, found in a map of the candidates for either side made
// in one pass; the decisions are those of the plain path.
const std::vector<TCrossingPeriod> &TCrossingDemodulator::DemodulateFast(const std::uint8_t *Bytes,
                                                                         std::uint32_t Count) {
    FPeriods.clear();
    for (std::vector<std::uint64_t> &Map : FCandidates)
        Map.assign(Count / WordBits + 1, 0);
    std::uint64_t *Awaiting[2] = {FCandidates[0].data(), FCandidates[1].data()};
    MarkCandidates(Bytes, Count, Awaiting);
    TState State = FState;
    for (std::uint32_t Index = 0; Index < Count;) {
        // One past the sample that ends the period unless a crossing pulls it closer.
        const std::uint32_t PeriodEnd =
            std::min<std::uint32_t>(Count, Index + std::uint32_t(BitPeriod - State.BitClock));
        // Too soon after a crossing, a candidate is rejected, and late in the period
        // it cannot move the clock: such candidates change nothing.
        std::uint32_t From = Index;
        if (State.BitClock >= PhaseAdvanceClock && State.SinceCrossing < MinCrossingSpacing - 1)
            From = std::min(PeriodEnd,
                            Index + std::uint32_t(MinCrossingSpacing - 1 - State.SinceCrossing));
        const std::uint32_t Candidate = NextCandidate(Awaiting[State.Polarity], From, PeriodEnd);
        const auto Skipped = std::int32_t(Candidate - Index);
        State.SinceCrossing = std::min(MinCrossingSpacing, State.SinceCrossing + Skipped);
        State.BitClock += Skipped;
        Index = Candidate;
        if (Candidate < PeriodEnd) {
            State.SinceCrossing = std::min(MinCrossingSpacing, State.SinceCrossing + 1);
            TakeCandidate(State);
            ++State.BitClock;
            ++Index;
        }
        if (State.BitClock >= BitPeriod)
            ClosePeriod(State, Index - 1);
    }
    FState = State;
    return FPeriods;
}
