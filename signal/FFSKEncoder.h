#pragma once

// Test signals: continuous-phase FFSK at 48 000 samples per second, 40 samples per
// bit, 1 800 Hz for a 1 bit and 1 200 Hz for a 0 bit, bytes most significant bit first.

#include <cstdint>
#include <string>
#include <vector>

namespace ffsk {

constexpr int SampleRate = 48000;
constexpr int SamplesPerBit = 40;

// How a sender's tuning and a recording's sample clock bend the ideal keying; the
// defaults are the ideal tones, rendered exactly.
struct TToneKeying {
    double ZeroHz = 1200.0;
    double OneHz = 1800.0;
    double SamplesPerBit = ffsk::SamplesPerBit;
    double OneGain = 1.0; // amplitude of the 1 bit's tone against the 0 bit's
    bool operator==(const TToneKeying &) const = default;
};

// The frames that carry a message text (header included, for example "SMS>HELLO"):
// each is ";(" followed by 8 payload characters; the last payload is padded with spaces.
std::vector<std::string> MessageFrames(const std::string &Message);

class TFFSKEncoder {
public:
    // Amplitude is a fraction of full scale (0 < Amplitude <= 1); StartPhase in radians.
    // Throws std::invalid_argument for an amplitude out of range, a non-finite phase or
    // keying without positive finite tones, bit length and gain.
    explicit TFFSKEncoder(double Amplitude = 0.5, double StartPhase = 0.0,
                          const TToneKeying &Keying = {});

    // Bit is 0 or 1 (std::invalid_argument otherwise).
    void AddBit(int Bit);
    void AddByte(std::uint8_t Byte);
    void AddBytes(const std::string &Bytes);
    // Alternating bits, starting with 1; a negative count is std::invalid_argument.
    void AddPreamble(int Bits);
    // The frames of MessageFrames(Message), back to back.
    void AddMessage(const std::string &Message);
    // Digital silence; the tone resumes afterwards at the phase where it stopped.
    // A negative count is std::invalid_argument.
    void AddSilence(int SampleCount);

    const std::vector<std::int16_t> &Samples() const { return FSamples; }

private:
    void AddKeyedBit(int Bit);
    void AddSample(double Value);

    double FAmplitude;
    TToneKeying FKeying;
    // Bent keying: phase in cycles, and the part of a sample the bits have run ahead.
    double FCycles = 0.0;
    double FBitTime = 0.0;
    double FStartPhase;
    // Phase advanced since the start, in 80ths of a cycle: both tones step a whole
    // number of them per sample, so the phase stays exact however long the signal.
    int FPhaseSteps = 0;
    std::vector<std::int16_t> FSamples;
};

} // namespace ffsk
