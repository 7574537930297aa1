#pragma once

// Where zel-decode's samples come from: one channel as signed 16-bit samples at
// the receiver's 48 000 Hz, whatever the input's layout, width and rate.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

constexpr int ReceiverSampleRate = 48000;

class TSampleSource {
public:
    virtual ~TSampleSource() = default;
    // The next samples; empty only at the end of the input.
    virtual std::span<const std::int16_t> Next() = 0;
};

// Memory for a reader's blocks, mapped with all its pages in place: touching fresh
// pages one at a time costs a fault each, dearly so in a virtual machine.
class TBlockMemory {
public:
    explicit TBlockMemory(std::size_t Bytes);
    ~TBlockMemory();
    TBlockMemory(const TBlockMemory &) = delete;
    TBlockMemory &operator=(const TBlockMemory &) = delete;
    char *Bytes() const { return FBytes; }

private:
    std::size_t FSize;
    char *FBytes;
};

// Raw signed 16-bit little-endian mono at 48 000 Hz from a descriptor, read straight
// into the samples handed out: from its position to its end, or Limit bytes at most.
// Name (the file's, or "standard input") begins the message of a read error. A read
// interrupted by a signal ends the input.
class TRawSampleSource : public TSampleSource {
public:
    TRawSampleSource(int Descriptor, std::string Name, std::uint64_t Limit = UINT64_MAX,
                     bool Owned = false);
    ~TRawSampleSource() override;
    TRawSampleSource(const TRawSampleSource &) = delete;
    TRawSampleSource &operator=(const TRawSampleSource &) = delete;
    std::span<const std::int16_t> Next() override;

private:
    std::size_t Read(char *Bytes, std::size_t Count);

    int FDescriptor;
    std::string FName;
    std::uint64_t FRemaining;
    bool FOwned;
    TBlockMemory FBlock;
    std::optional<char> FOddByte; // the first half of a sample not yet complete
};

// Channel Channel (1-based) of a recording that libsndfile can read. EToolError,
// naming the file, when it cannot be opened, is no recording or lacks the channel.
std::unique_ptr<TSampleSource> OpenSoundFile(const std::string &Path, int Channel);

// Float sample in full-scale units (-1..1) to 16 bits, rounded and clipped.
std::int16_t FloatToSample16(float Value);
