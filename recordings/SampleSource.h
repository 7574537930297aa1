#pragma once

// Where zel-decode's samples come from: one channel as signed 16-bit samples at
// the receiver's 48 000 Hz, whatever the input's layout, width and rate.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

constexpr int ReceiverSampleRate = 48000;
// The rates taken from a header or --rate: the resampler takes any, but beyond these a
// header is more likely damaged than a real recording.
constexpr int MinimumSampleRate = 1000;
constexpr int MaximumSampleRate = 1000000;

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
    // Bytes already read from the descriptor, handed out before any others.
    void HandOutFirst(std::string Bytes) { FCarried = std::move(Bytes); }

private:
    std::size_t Read(char *Bytes, std::size_t Count);

    int FDescriptor;
    std::string FName;
    std::uint64_t FRemaining;
    bool FOwned;
    TBlockMemory FBlock;
    std::string FCarried; // read but not handed out: the first half of a sample, say
};

// Channel Channel (1-based) of a recording that libsndfile can read. EToolError,
// naming the file, when it cannot be opened, is no recording or lacks the channel.
std::unique_ptr<TSampleSource> OpenSoundFile(const std::string &Path, int Channel);

// How raw samples on a stream are laid out: signed 16-bit little-endian, interleaved.
struct TRawLayout {
    int Rate = ReceiverSampleRate;
    int Channels = 1;
};

// Channel Channel (1-based) of what a stream (standard input, a pipe) holds: a recording
// in a container its first bytes name, otherwise raw samples laid out as Raw says (the
// default layout when Raw is not given; a container refuses a given one). EToolError,
// naming the stream Name, when it cannot be read or lacks the channel.
std::unique_ptr<TSampleSource> OpenSoundStream(int Descriptor, const std::string &Name,
                                               const std::optional<TRawLayout> &Raw, int Channel);

// Float sample in full-scale units (-1..1) to 16 bits, rounded and clipped.
std::int16_t FloatToSample16(float Value);
