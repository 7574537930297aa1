#include "receiver/untCrossingDemodulator.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
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

constexpr TPeriodDecision NoBit = {-1, '-', 0};
// By crossing count plus one: a period after a '_' starts counting at -1, as it
// already lent its first crossing.
constexpr TPeriodDecision Decisions[] = {
    NoBit,        // none, after a period that took one of them
    NoBit,        // none
    {0, '_', -1}, // a 0 whose second crossing falls into the next period
    {0, '0', 0},  // a 0
    {1, '1', 0},  // a 1
    {1, '^', 1},  // a 1 whose last crossing already belongs to the next period
};

TPeriodDecision DecidePeriod(std::int32_t Crossings) {
    const auto Index = std::uint32_t(Crossings + 1);
    return Index < std::size(Decisions) ? Decisions[Index] : NoBit;
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

constexpr std::uint32_t MapBits = 8;
// A map holds a byte per 8 samples, and room for reading a whole word at its last one.
std::size_t MapBytes(std::uint32_t Count) {
    return Count / MapBits + 2 * sizeof(std::uint64_t);
}

// From is a multiple of MapBits, and the maps are clear from there on.
void MarkCandidatesPlain(const std::uint8_t *Bytes, std::uint32_t From, std::uint32_t Count,
                         std::uint8_t *Maps[2]) {
    for (std::uint32_t Index = From; Index < Count; ++Index)
        for (const bool Polarity : {false, true})
            if (IsCandidate(HighByte(Bytes, Index), Polarity))
                Maps[Polarity][Index / MapBits] |= std::uint8_t(1u << (Index % MapBits));
}

void ClearMapsFrom(std::uint32_t From, std::uint32_t Count, std::uint8_t *Maps[2]) {
    for (const bool Polarity : {false, true})
        std::fill(Maps[Polarity] + From / MapBits, Maps[Polarity] + MapBytes(Count), 0);
}

#if defined(__SSE2__)
constexpr std::uint32_t VectorSamples = 16;

// 16 samples at a time from Index on: their high bytes less 128 as signed bytes, where
// "above 128" is "above 0" and "below 127" is "below -1". Returns where it stopped.
std::uint32_t MarkCandidatesSse2(const std::uint8_t *Bytes, std::uint32_t Index,
                                 std::uint32_t Count, std::uint8_t *Maps[2]) {
    for (; Index + VectorSamples <= Count; Index += VectorSamples) {
        const auto *Samples = reinterpret_cast<const __m128i *>(Bytes + Index * BytesPerSample);
        const __m128i Low = _mm_srli_epi16(_mm_loadu_si128(Samples), 8);
        const __m128i High = _mm_srli_epi16(_mm_loadu_si128(Samples + 1), 8);
        const __m128i Offset = _mm_xor_si128(_mm_packus_epi16(Low, High), _mm_set1_epi8(-128));
        const auto Negative =
            std::uint16_t(_mm_movemask_epi8(_mm_cmpgt_epi8(Offset, _mm_setzero_si128())));
        const auto NonNegative =
            std::uint16_t(_mm_movemask_epi8(_mm_cmplt_epi8(Offset, _mm_set1_epi8(-1))));
        std::memcpy(Maps[false] + Index / MapBits, &Negative, sizeof Negative);
        std::memcpy(Maps[true] + Index / MapBits, &NonNegative, sizeof NonNegative);
    }
    return Index;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
constexpr std::uint32_t WideVectorSamples = 32;

// The same 32 samples at a time, on processors that have AVX2 (most since 2013).
__attribute__((target("avx2"))) std::uint32_t
MarkCandidatesAvx2(const std::uint8_t *Bytes, std::uint32_t Count, std::uint8_t *Maps[2]) {
    std::uint32_t Index = 0;
    for (; Index + WideVectorSamples <= Count; Index += WideVectorSamples) {
        const auto *Samples = reinterpret_cast<const __m256i *>(Bytes + Index * BytesPerSample);
        const __m256i Low = _mm256_srli_epi16(_mm256_loadu_si256(Samples), 8);
        const __m256i High = _mm256_srli_epi16(_mm256_loadu_si256(Samples + 1), 8);
        // Packing works within 128-bit halves: the middle quarters trade places.
        const __m256i Packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(Low, High), 0xD8);
        const __m256i Offset = _mm256_xor_si256(Packed, _mm256_set1_epi8(-128));
        const auto Negative =
            std::uint32_t(_mm256_movemask_epi8(_mm256_cmpgt_epi8(Offset, _mm256_setzero_si256())));
        const auto NonNegative =
            std::uint32_t(_mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(-1), Offset)));
        std::memcpy(Maps[false] + Index / MapBits, &Negative, sizeof Negative);
        std::memcpy(Maps[true] + Index / MapBits, &NonNegative, sizeof NonNegative);
    }
    return Index;
}

bool HasAvx2() {
    static const bool Has = __builtin_cpu_supports("avx2");
    return Has;
}
#endif

// The widest vector path the processor has, then one sample at a time for the rest.
void MarkCandidates(const std::uint8_t *Bytes, std::uint32_t Count, std::uint8_t *Maps[2]) {
    std::uint32_t Index = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    if (HasAvx2())
        Index = MarkCandidatesAvx2(Bytes, Count, Maps);
#endif
#if defined(__SSE2__)
    Index = MarkCandidatesSse2(Bytes, Index, Count, Maps);
#endif
    ClearMapsFrom(Index, Count, Maps);
    MarkCandidatesPlain(Bytes, Index, Count, Maps);
}

// Bit k: whether sample From + k is a candidate, valid for k below 57.
std::uint64_t MapWindow(const std::uint8_t *Map, std::uint32_t From) {
    std::uint64_t Bits;
    std::memcpy(&Bits, Map + From / MapBits, sizeof Bits);
    return Bits >> (From % MapBits);
}

// Bits From to To, both included (To below 63).
std::uint64_t BitRange(std::int32_t From, std::int32_t To) {
    return (~std::uint64_t(0) << From) & ((std::uint64_t(2) << To) - 1);
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

inline TCrossingPeriod TCrossingDemodulator::ClosePeriod(TState &State, std::uint32_t SampleIndex) {
    const TPeriodDecision Decision = DecidePeriod(State.Crossings);
    State.Crossings = Decision.Carry;
    State.BitClock = 0;
    return {SampleIndex, Decision.Bit, Decision.Symbol};
}

const std::vector<TCrossingPeriod> &TCrossingDemodulator::Demodulate(const std::uint8_t *Bytes,
                                                                     std::uint32_t Count) {
    return DemodulateFast(Bytes, Count);
}

const std::vector<TCrossingPeriod> &TCrossingDemodulator::DemodulatePlain(const std::uint8_t *Bytes,
                                                                          std::uint32_t Count) {
    FPeriods.clear();
    DecodeSamples(FState, Bytes, 0, Count);
    return FPeriods;
}

void TCrossingDemodulator::DecodeSamples(TState &State, const std::uint8_t *Bytes,
                                         std::uint32_t From, std::uint32_t Count) {
    for (std::uint32_t Index = From; Index < Count; ++Index) {
        // Saturates: only "at least MinCrossingSpacing" matters, and digital silence
        // must not overflow it.
        if (State.SinceCrossing < MinCrossingSpacing)
            ++State.SinceCrossing;
        if (IsCandidate(HighByte(Bytes, Index), State.Polarity))
            TakeCandidate(State);
        if (++State.BitClock >= BitPeriod)
            FPeriods.push_back(ClosePeriod(State, Index));
    }
}

TCrossingPeriod TCrossingDemodulator::DecodePeriod(TState &State, const std::uint8_t *const Maps[2],
                                                   std::uint32_t Start) {
    std::uint64_t Awaited = MapWindow(Maps[State.Polarity], Start);
    // Positions from Start; the last crossing may lie before it (SinceCrossing saturates,
    // so it may as well be taken as the longest gap that counts).
    std::int32_t Last = BitPeriod - 1 - State.BitClock;
    std::int32_t LastCrossing = -State.SinceCrossing - 1;
    if (State.BitClock < PhaseAdvanceClock) {
        const std::uint64_t Early = Awaited & BitRange(0, PhaseAdvanceClock - State.BitClock - 1);
        if (Early)
            Last = std::countr_zero(Early) + BitPeriod - 1 - PhaseAdvanceClock;
    }
    for (std::int32_t From = std::max(0, LastCrossing + MinCrossingSpacing); From <= Last;
         From = LastCrossing + MinCrossingSpacing) {
        const std::uint64_t Found = Awaited & BitRange(From, Last);
        if (!Found)
            break;
        LastCrossing = std::countr_zero(Found);
        ++State.Crossings;
        State.Polarity = !State.Polarity;
        Awaited = MapWindow(Maps[State.Polarity], Start);
    }
    State.SinceCrossing = std::min(MinCrossingSpacing, Last - LastCrossing);
    return ClosePeriod(State, Start + std::uint32_t(Last));
}

// A whole bit period is read from the candidate maps at once: its crossings are the
// candidates of alternating sides at least MinCrossingSpacing samples apart, and the
// first candidate early in it (taken or not) pulls its end closer. Only the last,
// unfinished period of a buffer goes one sample at a time.
const std::vector<TCrossingPeriod> &TCrossingDemodulator::DemodulateFast(const std::uint8_t *Bytes,
                                                                         std::uint32_t Count) {
    for (std::vector<std::uint8_t> &Map : FCandidates)
        Map.resize(MapBytes(Count));
    std::uint8_t *Maps[2] = {FCandidates[0].data(), FCandidates[1].data()};
    MarkCandidates(Bytes, Count, Maps);
    // Room for the most periods a buffer can close, written without further checks.
    FPeriods.resize(Count / (BitPeriod - PhaseAdvanceClock) + 2);
    TCrossingPeriod *Closed = FPeriods.data();
    TState State = FState;
    std::uint32_t Index = 0;
    while (Index + BitPeriod <= Count) {
        const std::int32_t Last = BitPeriod - 1 - State.BitClock;
        // As in silence, nothing comes that the period waits for: it just ends.
        if (!(MapWindow(Maps[State.Polarity], Index) & BitRange(0, Last))) {
            State.SinceCrossing = std::min(MinCrossingSpacing, State.SinceCrossing + Last + 1);
            *Closed = ClosePeriod(State, Index + std::uint32_t(Last));
        } else {
            *Closed = DecodePeriod(State, Maps, Index);
        }
        Index = Closed++->SampleIndex + 1;
    }
    FPeriods.resize(std::size_t(Closed - FPeriods.data()));
    DecodeSamples(State, Bytes, Index, Count);
    FState = State;
    return FPeriods;
}
