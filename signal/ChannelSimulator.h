#pragma once

// A radio channel for test signals: what a sender's tuning, a recording's sample clock,
// an FM receiver, mains hum and the noise of a weak signal do to clean FFSK.

#include "signal/FFSKEncoder.h"

#include <cstdint>
#include <optional>
#include <vector>

class TArgumentReader;

struct TChannelSettings {
    std::optional<double> SnrDb;   // tone power against the noise in 3 kHz; none: no noise
    bool BandLimitedNoise = false; // noise only from 300 to 3 000 Hz, as a radio's audio has
    double ClockPercent = 0.0;     // tones and bit rate run this much fast (negative: slow)
    double ToneOffsetHz = 0.0;     // both tones moved by this much
    double ShiftHz = 0.0;          // the tones moved apart by this much, half each
    double TwistDb = 0.0;          // level of the 1 bit's tone against the 0 bit's
    double DcFraction = 0.0;       // DC offset, as a fraction of the tone amplitude
    std::optional<double> HumDb;   // 50 Hz hum against the tone; none: no hum
    bool Deemphasis = false;       // an FM receiver's de-emphasis, the sender not pre-emphasising
    std::uint32_t Seed = 1;        // the same seed gives the same noise

    bool operator==(const TChannelSettings &) const = default;
};

// The keying the sender and the sample clock make; ideal for default settings.
ffsk::TToneKeying ChannelKeying(const TChannelSettings &Settings);

// Clean 48 000 Hz samples of the given tone amplitude (a fraction of full scale) as
// they come out of the channel. Unchanged for default settings.
std::vector<std::int16_t> PassThroughChannel(const std::vector<std::int16_t> &Clean,
                                             double Amplitude, const TChannelSettings &Settings);

// Takes one channel option from Reader; false when the current argument is none.
// EToolError for a value out of range.
bool ReadChannelOption(TArgumentReader &Reader, TChannelSettings &Settings);
extern const char *const ChannelOptionsUsage;
