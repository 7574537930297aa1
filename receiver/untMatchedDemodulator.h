#pragma once

// The matched bit demodulator: a correlator holds each bit period against the mark and
// space tones, an early-late gate keeps its bit clock on the signal, sequence detection
// decides each bit over the bits around it (the tones of continuous-phase FFSK carry the
// phase from bit to bit), and a data carrier detect squelches where the decisions show
// no FFSK.

#include "receiver/untMatchedKernels.h"

#include <array>
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

    static constexpr int SamplesPerBit = TMatchedKernels::SamplesPerBit;
    // Bits decided before the bit in question, and the bits after it that each candidate
    // sequence holds.
    static constexpr int PastBits = 3;
    static constexpr int FutureBits = TCandidateTerms::Bits - 1;

private:
    struct TBitRecord {
        TToneCorrelation Correlation;
        // Per tone, the derotation by which its window started off the bit grid.
        TComplex ToGrid[2] = {1.0f, 1.0f};
        int Bit = 0;
        float Energy = 0; // of both tones
    };
    // The decided bits of the quality window, their tones turned back to the oldest
    // one's start.
    struct TDecidedBits {
        TComplex Sum = 0;
        TComplex Phase = 1; // from the newest one's start back to the oldest one's
        float Energy = 0;   // of the whole quality window, decided or not
        int Newest = 0;     // the newest decided bit
    };
    // The candidate sequence that sequence detection chose.
    struct TCandidate {
        int Bit = 0;      // its first bit, the one decided
        TComplex Sum = 0; // its bits' tones turned back to the newest decided bit's start
    };
    static constexpr int RingSize = 128;  // samples kept: a bit and the clock's look around it
    static constexpr int HistorySize = 8; // bits kept: at least PastBits + FutureBits + 1
    static constexpr int ConfirmRun = 24; // periods of carrier detect that confirm a signal
    static constexpr int BridgedGap = 2;  // periods without it that a run bridges
    struct TDelayedBit {
        std::int8_t Bit = -1;
        std::uint32_t Run = 0; // 0: no run
        bool Confirmed = false;
    };

    // Filtering the input.
    bool AtRest() const;
    void PassSilence(std::uint32_t Count);
    void Filter(std::uint32_t To);
    void FilterTo(std::uint32_t To);
    void FilterAhead(std::uint32_t Close);
    static bool Quiet(const float *End);
    // The steps of a bit period, in the order CloseWindow takes them. Inline, as each is
    // taken once: as calls, silent input took 10 % longer.
    void CloseWindow(std::uint32_t SampleIndex, const float *End);
    inline TMatchedKernels::TWindowCorrelations Correlate(const float *End) const;
    inline void PushBit(const TToneCorrelation &OnTime);
    inline TDecidedBits DecidedBits() const;
    inline void DetectSequence(int Previous, TCandidate &Best) const;
    inline int CandidateLength() const;
    bool SilentFrom(int Last) const;
    inline void DecideBit(const TDecidedBits &Decided, const TCandidate &Best);
    inline void UpdateCarrierDetect(float Quality);
    inline void Release(std::uint32_t SampleIndex, int Bit);
    inline void SteerBitClock(const TMatchedKernels::TWindowCorrelations &Windows);
    void SteerEarlyLate(float Error);
    void SeekHalfBit(float Half, float OnTimeContrast);
    // What is learnt from the station, and forgotten once it is gone.
    void LearnRotation(int Bit);
    void ForgetStation();
    void RelaxRotations();
    void SetDerotation(int From, int To);
    // From the start of the bit at Age, of the given bit, back to its predecessor's.
    TComplex Derotation(int From, int Age, int To) const {
        return TMatchedKernels::Times(FDerotation[From][To], Record(Age).ToGrid[To]);
    }
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

    // Set once.
    const TMatchedKernels FKernels;
    // The input: the filter, and the filtered samples, the newest before FWrite; moved to
    // the front when the end is reached, so that any span of them is contiguous.
    THighPass FHighPass;
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
    // The bits of the quality window, newest at FNewest.
    std::array<TBitRecord, HistorySize> FHistory{};
    int FNewest = 0;
    // The phase rotation from one bit's start to the next, per pair of tones, as learnt
    // from decided bits: it takes up tone offsets, filters and the sample clock.
    TComplex FRotation[2][2];
    TComplex FDerotation[2][2]; // the learnt rotations undone, as a decision applies them
    // The decided bits' tones, summed with decay and turned to the newest one's start.
    TComplex FReference = 0;
    float FSignalEnergy = 0; // of a decided bit's tone while DCD is on; 0: no station
    // Data carrier detect: the decision quality, smoothed, and whether it shows FFSK.
    float FQuality = 0;
    bool FCarrierDetect = false;
    // Bits on their way out: the squelch lets them through once a run confirms them.
    std::array<TDelayedBit, ConfirmRun> FDelayed{};
    int FDelayedNext = 0;
    int FDetectRun = 0;
    int FGap = 0;
    std::uint32_t FRunId = 0;
    std::vector<TMatchedPeriod> FPeriods;
};
