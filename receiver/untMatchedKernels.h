#pragma once

// The matched demodulator's arithmetic: the correlator that holds a bit's windows against
// the space and mark tones, and the sums of every candidate bit sequence that sequence
// detection chooses between. A plain version of each, and vector versions for the
// processor's SSE and AVX instructions, chosen once when the kernels are made; every
// version gives exactly the same bits, so the choice never changes a decision.

#include <array>
#include <complex>
#include <vector>

using TComplex = std::complex<float>;

// One window against the space (0 bit) and the mark (1 bit) tone, phase from its start.
struct TToneCorrelation {
    TComplex Tone[2];
};

// The terms of a sequence detection, per candidate bit position (0 the oldest, the bit
// to decide): the tones and the phase derotations back from either bit before it.
struct TCandidateTerms {
    static constexpr int Bits = 4; // the bit to decide and the three after it
    TComplex Reference;            // the decided bits' tones, turned to the newest one's start
    int Previous;                  // the newest decided bit
    TComplex Derotation[2][2];     // the learnt ones, per bit before and bit
    TComplex Tone[Bits][2];
    TComplex ToGrid[Bits][2]; // per position, each tone's derotation for its window's offset
};

// Every candidate's sum and its norm for its first Length bits b1, b2, ...: those of
// length L are elements 2^L - 2 + (b1 + 2 b2 + 4 b3 ...).
struct TCandidateSums {
    static constexpr int Candidates = 1 << TCandidateTerms::Bits;
    static constexpr int Count = 2 * Candidates - 2;
    float Re[Count], Im[Count], Norm[Count];
};

class TMatchedKernels {
public:
    static constexpr int SamplesPerBit = 40;
    static constexpr float SampleRate = 48000.0f;
    static constexpr float ToneHz[2] = {1200.0f, 1800.0f}; // space and mark

    // The windows correlated for each bit: early, late, on time and half a bit early.
    static constexpr int WindowsPerBit = 4;
    using TWindowStarts = std::array<const float *, WindowsPerBit>;
    using TWindowCorrelations = std::array<TToneCorrelation, WindowsPerBit>;

    enum class TInstructions { Plain, Sse, Avx };
    // The instruction sets this processor runs, the plain one first.
    static std::vector<TInstructions> Available();

    // With the widest instructions the processor has, or with the given ones, which
    // must be among Available().
    TMatchedKernels() : TMatchedKernels(Available().back()) {}
    explicit TMatchedKernels(TInstructions Instructions);

    // Each window holds SamplesPerBit samples from its start.
    TWindowCorrelations Correlate(const TWindowStarts &Starts) const { return FCorrelate(Starts); }
    void SumCandidates(const TCandidateTerms &Terms, TCandidateSums &Sums) const {
        FSumCandidates(Terms, Sums);
    }

    // The product as the compiler forms it, (ac - bd) + (ad + bc)i, without its recovery
    // of infinities and NaNs, which these finite sums never reach: the same bits, quicker.
    static TComplex Times(TComplex A, TComplex B) {
        return {A.real() * B.real() - A.imag() * B.imag(),
                A.real() * B.imag() + A.imag() * B.real()};
    }

private:
    TWindowCorrelations (*FCorrelate)(const TWindowStarts &Starts);
    void (*FSumCandidates)(const TCandidateTerms &Terms, TCandidateSums &Sums);
};
