#pragma once

// The signal report of a message: keeps the audio of its first frames while they are
// received, and fits the ideal FFSK of their decided bits to it once it is delivered.

#include "receiver/SignalReport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TSignalEstimator {
public:
    // DecisionDelay: samples from the end of a bit to the close of the period that
    // hands it over, as the demodulator in use has it.
    explicit TSignalEstimator(std::uint32_t DecisionDelay);

    // The buffer about to be decoded; it stays readable until EndBuffer.
    // Little-endian 16-bit samples, as the demodulators take them.
    void BeginBuffer(const std::uint8_t *Bytes, std::uint32_t Count);
    // Keeps what the next buffer's frames may still need of this one.
    void EndBuffer();

    void BeginMessage();
    // A frame of the message: its 10 bytes, sync word included, completed by the
    // period that closed just before sample End (counted from the first buffer).
    void TakeFrame(std::uint64_t End, const std::string &Bytes);
    // The report of the message's frames taken so far; none when there is too little
    // audio to fit.
    std::optional<TSignalReport> Estimate();

private:
    void Keep(std::uint64_t From, std::uint64_t To);
    std::int16_t BufferSample(std::uint64_t Position) const;

    std::uint32_t FDecisionDelay;
    // The buffer in hand and where it starts.
    const std::uint8_t *FBuffer = nullptr;
    std::uint32_t FCount = 0;
    std::uint64_t FBufferStart = 0;
    // The end of the buffer before it, for a frame that began there.
    std::vector<std::int16_t> FTail;
    std::uint64_t FTailStart = 0;
    // The message's audio from the start of its first frame, and its frames' bits.
    std::vector<std::int16_t> FAudio;
    std::uint64_t FAudioStart = 0;
    std::vector<std::uint64_t> FFrameEnds; // of the frames fitted, in the audio's samples
    std::string FBits;                     // their bytes, back to back
    bool FClipped = false;
};
