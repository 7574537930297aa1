#pragma once

// Test signals: continuous-phase FFSK at 48 000 samples per second, 40 samples per
// bit, 1 800 Hz for a 1 bit and 1 200 Hz for a 0 bit, bytes most significant bit first.

#include <cstdint>
#include <string>
#include <vector>

namespace ffsk {

constexpr int SampleRate = 48000;
constexpr int SamplesPerBit = 40;

// The frames that carry a message text (header included, for example "SMS>HELLO"):
// each is ";(" followed by 8 payload characters; the last payload is padded with spaces.
std::vector<std::string> MessageFrames(const std::string &Message);

class TFFSKEncoder {
public:
    // Amplitude is a fraction of full scale (0 < Amplitude <= 1); StartPhase in radians.
    explicit TFFSKEncoder(double Amplitude = 0.5, double StartPhase = 0.0);

    void AddBit(int Bit);
    void AddByte(std::uint8_t Byte);
    void AddBytes(const std::string &Bytes);
    // Alternating bits, starting with 1.
    void AddPreamble(int Bits);
    // The frames of MessageFrames(Message), back to back.
    void AddMessage(const std::string &Message);
    // Digital silence; the phase carries on across it.
    void AddSilence(int SampleCount);

    const std::vector<std::int16_t> &Samples() const { return FSamples; }

private:
    double FAmplitude;
    double FPhase;
    std::vector<std::int16_t> FSamples;
};

} // namespace ffsk
