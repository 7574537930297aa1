#include "receiver/untMatchedKernels.h"

#include <cmath>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZEL_AVX 1 // compiled for every x86-64, used where the processor has it
#endif

namespace {

constexpr int SamplesPerBit = TMatchedKernels::SamplesPerBit;
constexpr int WindowsPerBit = TMatchedKernels::WindowsPerBit;
constexpr int Bits = TCandidateTerms::Bits;
using TWindowStarts = TMatchedKernels::TWindowStarts;
using TWindowCorrelations = TMatchedKernels::TWindowCorrelations;

TComplex Times(TComplex A, TComplex B) {
    return TMatchedKernels::Times(A, B);
}

// Per tone, the cosine and the negated sine of each sample of a bit, so that a window's
// correlation is four sums of products: real and imaginary part against each tone.
struct TToneTables {
    alignas(16) float Wave[4][SamplesPerBit];
    TToneTables() {
        for (int Tone = 0; Tone < 2; ++Tone)
            for (int Index = 0; Index < SamplesPerBit; ++Index) {
                const double Phase = 2.0 * std::numbers::pi * TMatchedKernels::ToneHz[Tone] *
                                     Index / TMatchedKernels::SampleRate;
                Wave[2 * Tone][Index] = float(std::cos(Phase));
                Wave[2 * Tone + 1][Index] = float(-std::sin(Phase));
            }
    }
};
const TToneTables Tables;

// ---- The correlator ----

// Each of the four sums is taken in four lanes, every fourth product to a lane, and the
// lanes are added as (0 + 2) + (1 + 3): the plain and the vector way give the same bits.
static_assert(SamplesPerBit % 4 == 0);

// The four sums as the two tones' complex correlations.
TToneCorrelation FromSums(const float (&Sums)[4]) {
    return {{{Sums[0], Sums[1]}, {Sums[2], Sums[3]}}};
}

TToneCorrelation CorrelateOne(const float *Samples) {
    float Sums[4];
    for (int Wave = 0; Wave < 4; ++Wave) {
        float Lanes[4] = {};
        for (int Index = 0; Index < SamplesPerBit; ++Index)
            Lanes[Index % 4] += Samples[Index] * Tables.Wave[Wave][Index];
        Sums[Wave] = (Lanes[0] + Lanes[2]) + (Lanes[1] + Lanes[3]);
    }
    return FromSums(Sums);
}

TWindowCorrelations CorrelatePlain(const TWindowStarts &Starts) {
    TWindowCorrelations Result;
    for (std::size_t Window = 0; Window < Starts.size(); ++Window)
        Result[Window] = CorrelateOne(Starts[Window]);
    return Result;
}

#if defined(__SSE2__)
// The four lanes of Sum added as the plain way adds them.
float AddLanes(__m128 Sum) {
    const __m128 Halves = _mm_add_ps(Sum, _mm_movehl_ps(Sum, Sum));
    return _mm_cvtss_f32(_mm_add_ss(Halves, _mm_shuffle_ps(Halves, Halves, 1)));
}

// Two windows at a time: their eight sums fill the registers and overlap in the processor.
TWindowCorrelations CorrelateSse(const TWindowStarts &Starts) {
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
                const __m128 Four = _mm_loadu_ps(Starts[std::size_t(Pair + Window)] + Index);
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
            for (int Wave = 0; Wave < 4; ++Wave)
                Sums[Wave] = AddLanes(Lanes[Window][Wave]);
            Result[std::size_t(Pair + Window)] = FromSums(Sums);
        }
    }
    return Result;
}
#endif

#if defined(ZEL_AVX)
// The tone tables again, two waves side by side for each four samples: waves 0 and 1,
// then 2 and 3.
struct TPairedTables {
    alignas(32) float Pair[2][SamplesPerBit / 4][8];
    TPairedTables() {
        for (int Pairs = 0; Pairs < 2; ++Pairs)
            for (int Step = 0; Step < SamplesPerBit / 4; ++Step)
                for (int Lane = 0; Lane < 8; ++Lane)
                    Pair[Pairs][Step][Lane] =
                        Tables.Wave[2 * Pairs + Lane / 4][4 * Step + Lane % 4];
    }
};
const TPairedTables Paired;

// The sums of two waves in one register of eight lanes, each half as CorrelateSse's.
__attribute__((target("avx"))) TWindowCorrelations CorrelateAvx(const TWindowStarts &Starts) {
    __m256 Lanes[WindowsPerBit][2];
#pragma GCC unroll 8
    for (int Window = 0; Window < WindowsPerBit; ++Window)
        Lanes[Window][0] = Lanes[Window][1] = _mm256_setzero_ps();
#pragma GCC unroll 10
    for (int Step = 0; Step < SamplesPerBit / 4; ++Step)
#pragma GCC unroll 4
        for (int Window = 0; Window < WindowsPerBit; ++Window) {
            const __m128 Four = _mm_loadu_ps(Starts[std::size_t(Window)] + 4 * Step);
            const __m256 Twice = _mm256_set_m128(Four, Four);
#pragma GCC unroll 2
            for (int Pair = 0; Pair < 2; ++Pair)
                Lanes[Window][Pair] =
                    _mm256_add_ps(Lanes[Window][Pair],
                                  _mm256_mul_ps(Twice, _mm256_load_ps(Paired.Pair[Pair][Step])));
        }
    TWindowCorrelations Result;
#pragma GCC unroll 4
    for (int Window = 0; Window < WindowsPerBit; ++Window) {
        float Sums[4];
#pragma GCC unroll 4
        for (int Wave = 0; Wave < 4; ++Wave) {
            const __m256 Pair = Lanes[Window][Wave / 2];
            const __m128 Sum =
                Wave % 2 ? _mm256_extractf128_ps(Pair, 1) : _mm256_castps256_ps128(Pair);
            Sums[Wave] = AddLanes(Sum);
        }
        Result[std::size_t(Window)] = FromSums(Sums);
    }
    return Result;
}
#endif

// ---- The candidates' sums ----

// Grown a bit at a time, each candidate from the one that shares all but its newest bit.
void SumCandidatesPlain(const TCandidateTerms &Terms, TCandidateSums &Sums) {
    TComplex Turned[TCandidateSums::Count];
    for (int Position = 0; Position < Bits; ++Position) {
        const int Nodes = 2 << Position, First = Nodes - 2, ParentFirst = Nodes / 2 - 2;
        for (int Node = 0; Node < Nodes; ++Node) {
            const int Bit = Node >> Position, Parent = ParentFirst + (Node & (Nodes / 2 - 1));
            const int Before = Position == 0 ? Terms.Previous : Node >> (Position - 1) & 1;
            const TComplex ParentTurned = Position == 0 ? TComplex(1) : Turned[Parent];
            const TComplex ParentSum =
                Position == 0 ? Terms.Reference : TComplex(Sums.Re[Parent], Sums.Im[Parent]);
            const TComplex Back = Times(Terms.Derotation[Before][Bit], Terms.ToGrid[Position][Bit]);
            Turned[First + Node] = Times(ParentTurned, Back);
            const TComplex Sum = ParentSum + Times(Turned[First + Node], Terms.Tone[Position][Bit]);
            Sums.Re[First + Node] = Sum.real(), Sums.Im[First + Node] = Sum.imag();
            Sums.Norm[First + Node] = std::norm(Sum);
        }
    }
}

#if defined(__SSE2__)
// Four complex numbers, one in each lane.
struct TLanes {
    __m128 Re, Im;
    static TLanes Of(TComplex A, TComplex B, TComplex C, TComplex D) {
        return {_mm_setr_ps(A.real(), B.real(), C.real(), D.real()),
                _mm_setr_ps(A.imag(), B.imag(), C.imag(), D.imag())};
    }
    static TLanes All(TComplex A) { return {_mm_set1_ps(A.real()), _mm_set1_ps(A.imag())}; }
    template <int A, int B, int C, int D> TLanes Pick() const { // lanes A, B, C and D
        constexpr int Lanes = _MM_SHUFFLE(D, C, B, A);
        return {_mm_shuffle_ps(Re, Re, Lanes), _mm_shuffle_ps(Im, Im, Lanes)};
    }
    // Stores the four and their norms.
    void Store(float *ToRe, float *ToIm, float *ToNorm) const {
        _mm_storeu_ps(ToRe, Re), _mm_storeu_ps(ToIm, Im);
        _mm_storeu_ps(ToNorm, _mm_add_ps(_mm_mul_ps(Re, Re), _mm_mul_ps(Im, Im)));
    }
    TLanes operator*(TLanes B) const { // as Times, lane by lane
        return {_mm_sub_ps(_mm_mul_ps(Re, B.Re), _mm_mul_ps(Im, B.Im)),
                _mm_add_ps(_mm_mul_ps(Re, B.Im), _mm_mul_ps(Im, B.Re))};
    }
    TLanes operator+(TLanes B) const { return {_mm_add_ps(Re, B.Re), _mm_add_ps(Im, B.Im)}; }
};

// The same sums four candidates at a time: the first bit's two plainly, then one vector
// of the second bit's four, two of the third's and four of the fourth's. The derotations
// of a position, lane by lane, are those from bit before 0, 1, 0, 1 to bit 0, 0, 1, 1.
void SumCandidatesSse(const TCandidateTerms &Terms, TCandidateSums &Sums) {
    static_assert(Bits == 4);
    const auto &Derotation = Terms.Derotation;
    const auto &Tone = Terms.Tone, &ToGrid = Terms.ToGrid;
    const TLanes Derotations =
        TLanes::Of(Derotation[0][0], Derotation[1][0], Derotation[0][1], Derotation[1][1]);
    const auto BackAt = [&](int Position) {
        return Derotations * TLanes::Of(ToGrid[Position][0], ToGrid[Position][0],
                                        ToGrid[Position][1], ToGrid[Position][1]);
    };
    TComplex First[2], FirstTurned[2];
    for (int Bit = 0; Bit < 2; ++Bit) {
        FirstTurned[Bit] =
            Times(TComplex(1), Times(Derotation[Terms.Previous][Bit], ToGrid[0][Bit]));
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
#endif

} // namespace

std::vector<TMatchedKernels::TInstructions> TMatchedKernels::Available() {
    std::vector<TInstructions> Result = {TInstructions::Plain};
#if defined(__SSE2__)
    Result.push_back(TInstructions::Sse);
#endif
#if defined(ZEL_AVX)
    static const bool Avx = [] { // asked once
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    if (Avx)
        Result.push_back(TInstructions::Avx);
#endif
    return Result;
}

TMatchedKernels::TMatchedKernels([[maybe_unused]] TInstructions Instructions)
    : FCorrelate(CorrelatePlain), FSumCandidates(SumCandidatesPlain) {
#if defined(__SSE2__)
    if (Instructions != TInstructions::Plain)
        FCorrelate = CorrelateSse, FSumCandidates = SumCandidatesSse;
#endif
#if defined(ZEL_AVX)
    if (Instructions == TInstructions::Avx)
        FCorrelate = CorrelateAvx;
#endif
}
