#pragma once

// Recognises the WAV files that hold exactly what the receiver takes (16-bit PCM,
// one channel, 48 000 Hz), so that their samples can be read without conversion.

#include <cstdint>
#include <optional>

struct TPlainWavData {
    std::uint64_t Offset; // of the first sample in the file
    std::uint64_t Bytes;  // of samples
};

// Where the samples of the regular file open on Descriptor lie, if it is such a WAV
// file with a plain header; nothing for any other file, which libsndfile then reads.
std::optional<TPlainWavData> FindPlainWavData(int Descriptor);
