#include "signal/FFSKEncoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace ffsk {

namespace {

constexpr std::size_t PayloadLength = 8;
constexpr const char *SyncBytes = ";(";

constexpr int StepsPerCycle = 80;
// 1 200 Hz and 1 800 Hz at 48 000 samples/s: 1/40 and 3/80 of a cycle per sample.
constexpr int ZeroBitSteps = 2;
constexpr int OneBitSteps = 3;
constexpr double FullScale = 32768.0;

} // namespace

std::vector<std::string> MessageFrames(const std::string &Message) {
    std::vector<std::string> Frames;
    for (std::size_t Start = 0; Start < Message.size(); Start += PayloadLength) {
        std::string Payload = Message.substr(Start, PayloadLength);
        Payload.resize(PayloadLength, ' ');
        Frames.push_back(SyncBytes + Payload);
    }
    return Frames;
}

TFFSKEncoder::TFFSKEncoder(double Amplitude, double StartPhase, const TToneKeying &Keying)
    : FAmplitude(Amplitude), FKeying(Keying), FStartPhase(StartPhase) {
    if (!(Amplitude > 0.0 && Amplitude <= 1.0))
        throw std::invalid_argument("FFSK amplitude must be above 0 and at most 1");
    if (!std::isfinite(StartPhase))
        throw std::invalid_argument("FFSK start phase must be a finite number");
    for (double Value : {Keying.ZeroHz, Keying.OneHz, Keying.SamplesPerBit, Keying.OneGain})
        if (!(std::isfinite(Value) && Value > 0.0))
            throw std::invalid_argument("FFSK tones, bit length and gain must be above 0");
}

void TFFSKEncoder::AddBit(int Bit) {
    if (Bit != 0 && Bit != 1)
        throw std::invalid_argument("an FFSK bit must be 0 or 1");
    if (FKeying != TToneKeying{})
        return AddKeyedBit(Bit);
    const int Steps = Bit ? OneBitSteps : ZeroBitSteps;
    for (int Sample = 0; Sample < SamplesPerBit; ++Sample) {
        AddSample(std::sin(FStartPhase + 2.0 * std::numbers::pi * FPhaseSteps / StepsPerCycle));
        FPhaseSteps = (FPhaseSteps + Steps) % StepsPerCycle;
    }
}

void TFFSKEncoder::AddKeyedBit(int Bit) {
    const double CyclesPerSample = (Bit ? FKeying.OneHz : FKeying.ZeroHz) / SampleRate;
    const double Gain = Bit ? FKeying.OneGain : 1.0;
    FBitTime += FKeying.SamplesPerBit;
    for (; FBitTime >= 1.0; FBitTime -= 1.0) {
        AddSample(Gain * std::sin(FStartPhase + 2.0 * std::numbers::pi * FCycles));
        FCycles += CyclesPerSample;
        FCycles -= std::floor(FCycles);
    }
}

void TFFSKEncoder::AddSample(double Value) {
    const double Scaled = std::round(FAmplitude * FullScale * Value);
    FSamples.push_back(static_cast<std::int16_t>(
        std::clamp(Scaled, double(std::numeric_limits<std::int16_t>::min()),
                   double(std::numeric_limits<std::int16_t>::max()))));
}

void TFFSKEncoder::AddByte(std::uint8_t Byte) {
    for (int Shift = 7; Shift >= 0; --Shift)
        AddBit((Byte >> Shift) & 1);
}

void TFFSKEncoder::AddBytes(const std::string &Bytes) {
    for (char Byte : Bytes)
        AddByte(static_cast<std::uint8_t>(Byte));
}

void TFFSKEncoder::AddPreamble(int Bits) {
    if (Bits < 0)
        throw std::invalid_argument("the preamble length must not be negative");
    for (int Index = 0; Index < Bits; ++Index)
        AddBit(Index % 2 == 0 ? 1 : 0);
}

void TFFSKEncoder::AddMessage(const std::string &Message) {
    for (const std::string &Frame : MessageFrames(Message))
        AddBytes(Frame);
}

void TFFSKEncoder::AddSilence(int SampleCount) {
    if (SampleCount < 0)
        throw std::invalid_argument("the silence length must not be negative");
    FSamples.insert(FSamples.end(), SampleCount, 0);
}

} // namespace ffsk
