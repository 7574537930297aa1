// zel-bench-to-raw IN OUT RATE: channel 1 of IN, resampled to RATE Hz, as raw signed
// 16-bit little-endian samples in OUT.

#include "recordings/Resampler.h"
#include "recordings/SampleSource.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int ArgCount, char **Args) {
    if (ArgCount != 4) {
        std::fprintf(stderr, "usage: zel-bench-to-raw IN OUT RATE\n");
        return 2;
    }
    SF_INFO Info{};
    SNDFILE *Sound = sf_open(Args[1], SFM_READ, &Info);
    std::FILE *Output = std::fopen(Args[2], "wb");
    if (!Sound || !Output) {
        std::fprintf(stderr, "zel-bench-to-raw: cannot open %s or %s\n", Args[1], Args[2]);
        return 2;
    }
    TResampler Resampler(Info.samplerate, std::atof(Args[3]));
    std::vector<float> Frames(4096 * Info.channels), Channel(4096), Resampled;
    for (sf_count_t Count; (Count = sf_readf_float(Sound, Frames.data(), 4096)) > 0;) {
        Channel.resize(Count);
        for (sf_count_t Frame = 0; Frame < Count; ++Frame)
            Channel[Frame] = Frames[Frame * Info.channels];
        Resampler.Process(Channel, Resampled);
    }
    Resampler.Finish(Resampled);
    std::vector<std::int16_t> Samples;
    for (const float Value : Resampled)
        Samples.push_back(FloatToSample16(Value));
    std::fwrite(Samples.data(), sizeof(std::int16_t), Samples.size(), Output);
    sf_close(Sound);
    return std::fclose(Output) == 0 ? 0 : 1;
}
