#pragma once

// Streaming sample-rate conversion of one channel of float samples (libsoxr).

#include <span>
#include <vector>

struct soxr;

class TResampler {
public:
    TResampler(double InputRate, double OutputRate);
    ~TResampler();
    TResampler(const TResampler &) = delete;
    TResampler &operator=(const TResampler &) = delete;

    // Appends the output that Input makes available to Output.
    void Process(std::span<const float> Input, std::vector<float> &Output);
    // Appends what is still held back at the end of the input.
    void Finish(std::vector<float> &Output);

private:
    std::size_t Run(const float *Input, std::size_t Count, std::vector<float> &Output);

    soxr *FSoxr = nullptr;
    double FRatio;
};
