#pragma once

// The matched bit demodulator: correlates each bit period against the two tones, keeps
// its bit clock on the signal, decides each bit over the bits around it (the tones of
// continuous-phase FFSK carry the phase from bit to bit), and stays silent where the
// decisions show no FFSK.

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

// One bit period as the matched demodulator closes it.
struct TMatchedPeriod {
    std::uint32_t SampleIndex; // the buffer's sample (from 0) that closed it
    std::int8_t Bit;           // 0 or 1; -1 where no FFSK is heard
    bool operator==(const TMatchedPeriod &) const = default;
};

class TMatchedDemodulator {
public:
    TMatchedDemodulator();

    // Decodes Count little-endian 16-bit samples at 48 000 Hz, carrying on from the
    // previous call; returns the periods closed in them, in order.
    // Digital silence after the high-pass has come to rest is passed over without
    // correlating it.
    const std::vector<TMatchedPeriod> &Demodulate(const std::uint8_t *Bytes, std::uint32_t Count);
    // The same, sample by sample however quiet.
    const std::vector<TMatchedPeriod> &DemodulatePlain(const std::uint8_t *Bytes,
                                                       std::uint32_t Count);

    static constexpr int SamplesPerBit = 40;
    // Bits decided before and after the bit in question.
    static constexpr int PastBits = 3;
    static constexpr int FutureBits = 3;

    using TComplex = std::complex<float>;
    struct TToneCorrelation {
        TComplex Tone[2]; // against the 0 bit's and the 1 bit's tone, phase from the bit's start
    };
    // One bit's SamplesPerBit samples against the tones, one at a time; and the windows
    // that close a bit (each starting at one of Starts), four at a time with the
    // processor's vector instructions (one at a time where it has none), and eight at a
    // time where it has wider ones. All give exactly the same result.
    static constexpr int WindowsPerBit = 4;
    using TWindowStarts = std::array<const float *, WindowsPerBit>;
    using TWindowCorrelations = std::array<TToneCorrelation, WindowsPerBit>;
    static TToneCorrelation CorrelatePlain(const float *Samples);
    static TWindowCorrelations CorrelateVector(const TWindowStarts &Starts);
    static TWindowCorrelations CorrelateWide(const TWindowStarts &Starts);

    // The terms of a decision's choices, for each of its bits (level 0 the oldest, the
    // one decided): the tones and the turns back from either bit before it.
    struct TChoiceTerms {
        TComplex Reference;  // the decided bits' tones, turned to the start of the newest
        int Previous;        // the newest decided bit
        TComplex Turn[2][2]; // the learnt turns back, per bit before and bit
        TComplex Tone[FutureBits + 1][2];
        TComplex Shift[FutureBits + 1][2]; // per level, each tone's turn for its window
    };
    static constexpr int Choices = 1 << (FutureBits + 1);
    // Every choice's sum and its norm for the first level + 1 bits b1, b2, ...: level L's
    // are elements 2^(L+1) - 2 + (b1 + 2 b2 + 4 b3 ...).
    struct TChoiceSums {
        float Re[2 * Choices - 2], Im[2 * Choices - 2], Norm[2 * Choices - 2];
    };
    // One at a time, and four at a time with the processor's vector instructions: both
    // give exactly the same result.
    static void SumChoicesPlain(const TChoiceTerms &Terms, TChoiceSums &Sums);
    static void SumChoicesVector(const TChoiceTerms &Terms, TChoiceSums &Sums);

private:
    struct TBitRecord {
        TToneCorrelation Correlation;
        // Per tone, the turn back by which its window started off the bit grid.
        TComplex Back[2] = {1.0f, 1.0f};
        int Bit = 0;
        float Energy = 0; // of both tones
        void Set(const TToneCorrelation &Tones) {
            Correlation = Tones;
            Energy = std::norm(Tones.Tone[0]) + std::norm(Tones.Tone[1]);
        }
    };
    static constexpr int RingSize = 128;  // samples kept: a bit and the clock's look around it
    static constexpr int HistorySize = 8; // bits kept: at least PastBits + FutureBits + 1
    static constexpr int RunLength = 24;  // open periods that make a signal
    static constexpr int BridgedGap = 2;  // closed periods a run bridges
    struct TDelayedBit {
        std::int8_t Bit = -1;
        std::uint32_t Run = 0; // 0: no run
        bool Confirmed = false;
    };

    static TComplex Times(TComplex A, TComplex B);
    bool AtRest() const;
    void PassSilence(std::uint32_t Count);
    void Filter(std::uint32_t To);
    void FilterTo(std::uint32_t To);
    void FilterAhead(std::uint32_t Close);
    static bool Quiet(const float *End);
    void CloseWindow(std::uint32_t SampleIndex, const float *End);
    void AdjustClock(float Error);
    void SeekHalfBit(float Half, float OnTimeContrast);
    void DecideBit(std::uint32_t SampleIndex);
    int ChooseBit(int Previous, TComplex &ChoiceSum) const;
    bool NothingFrom(int Last) const;
    void LearnRotation(int Bit);
    void ForgetStation();
    void RelaxTurns();
    void SetTurnBack(int From, int To);
    // From the start of the bit at Age, of the given bit, back to its predecessor's.
    TComplex TurnBack(int From, int Age, int To) const {
        return Times(FTurnBack[From][To], Record(Age).Back[To]);
    }
    void Release(std::uint32_t SampleIndex, int Bit, bool Open);
    TBitRecord &Record(int Age) { return FHistory[(FNewest - Age) & (HistorySize - 1)]; }
    const TBitRecord &Record(int Age) const {
        return FHistory[(FNewest - Age) & (HistorySize - 1)];
    }

    // High-pass against DC and mains hum: one biquad.
    struct THighPass {
        THighPass();
        float Step(float Sample);
        bool AtRest() const;
        float B0, B1, B2, A1, A2;
        float X1 = 0, X2 = 0, Y1 = 0, Y2 = 0;
    };
    THighPass FHighPass;
    // The filtered samples, the newest before FWrite; moved to the front when the end is
    // reached, so that any span of them is contiguous.
    std::array<float, 16 * RingSize> FSamples{};
    int FWrite = RingSize;
    // The buffer in hand and how much of it is filtered.
    const std::uint8_t *FInput = nullptr;
    std::uint32_t FInputCount = 0, FFiltered = 0;
    // Bit clock: samples until the next window closes, the fraction carried, the period.
    int FUntilWindow;
    int FWindowLength = SamplesPerBit; // samples from the last window's close to the next
    float FFraction = 0;
    float FPeriod = SamplesPerBit;
    float FHalfBitLead = 0;
    bool FJumpBack = false;
    std::array<TBitRecord, HistorySize> FHistory{};
    int FNewest = 0;
    // The phase turn from one bit's start to the next, per pair of tones, as learnt
    // from decided bits: it takes up tone offsets, filters and the sample clock.
    TComplex FTurn[2][2];
    TComplex FTurnBack[2][2]; // the learnt turns as a decision applies them
    // The decided bits' tones, summed with decay and turned to the newest one's start.
    TComplex FReference = 0;
    float FSignalEnergy = 0; // of a decided bit's tone while the squelch is open; 0: no station
    float FQuality = 0;
    bool FOpen = false;
    std::array<TDelayedBit, RunLength> FDelayed{};
    int FDelayedNext = 0;
    int FOpenRun = 0;
    int FGap = 0;
    std::uint32_t FRunId = 0;
    std::vector<TMatchedPeriod> FPeriods;
};
