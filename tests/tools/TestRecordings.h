#pragma once

// Test recordings: FFSK traffic made with the encoder and stored in whatever layout,
// width and rate a test needs.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Messages (header included) at 48 000 Hz, each after a 32-bit preamble and
// followed by GapSamples of silence, as zel-encode renders them.
std::vector<std::int16_t> Traffic(const std::vector<std::string> &Messages, int GapSamples = 24000,
                                  double Amplitude = 0.5);

// What zel-decode prints for a message: header removed, last frame padded with spaces.
std::string DecodedLine(const std::string &Message);

std::vector<float> ToFloat(const std::vector<std::int16_t> &Samples);
std::vector<float> Resample(const std::vector<float> &Samples, double FromRate, double ToRate);

// Writes the channels (all of one length) with libsndfile; Format is an SF_FORMAT_*
// combination.
void WriteRecording(const std::filesystem::path &Path,
                    const std::vector<std::vector<float>> &Channels, int SampleRate, int Format);
