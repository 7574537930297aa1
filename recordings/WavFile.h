#pragma once

// Complete WAV files rendered in memory, so that they can go to a pipe, which
// cannot seek back to fill in the header sizes.

#include <cstdint>
#include <span>
#include <string>

// A 16-bit mono PCM WAV file holding Samples at SampleRate.
std::string WavFileBytes(std::span<const std::int16_t> Samples, int SampleRate);
