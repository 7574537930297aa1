#pragma once

// The zero-crossing bit demodulator: counts the crossings of each 40-sample bit period,
// looking only at each sample's high byte, and pulls the period's end towards a crossing
// that comes early in it.

#include <cstdint>
#include <vector>

// One bit period as the zero-crossing demodulator closes it.
struct TCrossingPeriod {
    std::uint32_t SampleIndex; // the buffer's sample (from 0) that closed it
    std::int8_t Bit;           // 0 or 1; -1: no bit
    char Symbol;               // its bit-trace symbol
    bool operator==(const TCrossingPeriod &) const = default;
};

class TCrossingDemodulator {
public:
    // Decodes Count little-endian 16-bit samples at 48 000 Hz, carrying on from the
    // previous call; returns the periods closed in them, in order. Uses the fastest
    // path the processor has.
    const std::vector<TCrossingPeriod> &Demodulate(const std::uint8_t *Bytes, std::uint32_t Count);

    // The same decisions one sample at a time, and a whole bit period at a time from
    // maps of the candidates made with vector compares (made one sample at a time where
    // the processor has none).
    const std::vector<TCrossingPeriod> &DemodulatePlain(const std::uint8_t *Bytes,
                                                        std::uint32_t Count);
    const std::vector<TCrossingPeriod> &DemodulateFast(const std::uint8_t *Bytes,
                                                       std::uint32_t Count);

private:
    struct TState {
        bool Polarity = false; // true: awaiting the non-negative side
        std::int32_t SinceCrossing = 0;
        std::int32_t Crossings = 0;
        std::int32_t BitClock = 0;
    };
    static void TakeCandidate(TState &State);
    static TCrossingPeriod ClosePeriod(TState &State, std::uint32_t SampleIndex);
    // Samples From to Count one at a time.
    void DecodeSamples(TState &State, const std::uint8_t *Bytes, std::uint32_t From,
                       std::uint32_t Count);
    // The bit period from sample Start on, which must end within the candidate maps.
    static TCrossingPeriod DecodePeriod(TState &State, const std::uint8_t *const Maps[2],
                                        std::uint32_t Start);

    TState FState;
    std::vector<TCrossingPeriod> FPeriods;
    // Per awaited side (index: Polarity), bit k set where sample k is a candidate.
    std::vector<std::uint8_t> FCandidates[2];
};
