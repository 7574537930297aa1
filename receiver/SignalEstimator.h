#pragma once

// The signal report of a message, data-aided: keeps the audio of its first frames while
// they are received, and once it is delivered holds the ideal FFSK of their decided bits
// against that audio, one bit at a time, to fit level, tones, bit clock and noise.

#include "receiver/SignalReport.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TSignalEstimator {
public:
    // DecisionDelayBits: bit periods from the end of a bit to the close of the period
    // that hands it over, as the demodulator in use has it.
    explicit TSignalEstimator(double DecisionDelayBits);

    // The buffer about to be decoded, little-endian 16-bit samples as the demodulators
    // take them, and where it starts in the receiver's count of samples; it stays
    // readable until EndBuffer.
    void BeginBuffer(const std::uint8_t *Bytes, std::uint32_t Count, std::uint64_t Start);
    // Keeps what the next buffer's frames may still need of this one.
    void EndBuffer();

    void BeginMessage();
    // A frame of the message: its 10 bytes, sync word included, completed by the
    // period that closed just before sample End.
    void TakeFrame(std::uint64_t End, const std::string &Bytes);
    // The report of the message's frames taken so far; none when too little of their
    // audio was kept to fit.
    std::optional<TSignalReport> Estimate() const;

private:
    void KeepAudio(std::uint64_t From, std::uint64_t To);
    void NoteClipping(std::uint64_t From, std::uint64_t To);
    std::span<const std::int16_t> Samples(std::uint64_t From, std::uint64_t To);

    double FDecisionDelayBits;
    // The buffer in hand and where it starts.
    const std::uint8_t *FBuffer = nullptr;
    std::uint32_t FCount = 0;
    std::uint64_t FBufferStart = 0;
    // The end of the buffer before it, for a frame that began there.
    std::vector<std::int16_t> FTail;
    std::uint64_t FTailStart = 0;
    // The audio of the message's fitted frames, from a little before the first, and
    // where the bit clock put each frame's end in it; the frames' bytes back to back.
    std::vector<float> FAudio;
    std::uint64_t FAudioStart = 0;
    std::vector<double> FFrameEnds;
    std::string FFrameBytes;
    bool FFitClosed = false; // a frame did not follow the last one at once: fit no more
    bool FClipped = false;
    std::vector<std::int16_t> FScratch; // samples copied out of the tail and the buffer
};
