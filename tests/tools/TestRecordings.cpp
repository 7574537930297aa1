#include "TestRecordings.h"

#include "recordings/Resampler.h"
#include "signal/FFSKEncoder.h"

#include <sndfile.h>

#include <stdexcept>

std::vector<std::int16_t> Traffic(const std::vector<std::string> &Messages, int GapSamples,
                                  double Amplitude) {
    ffsk::TFFSKEncoder Encoder(Amplitude);
    for (const std::string &Message : Messages) {
        Encoder.AddPreamble(32);
        Encoder.AddMessage(Message);
        Encoder.AddSilence(GapSamples);
    }
    return Encoder.Samples();
}

std::string DecodedLine(const std::string &Message) {
    std::string Padded = Message;
    Padded.resize((Message.size() + 7) / 8 * 8, ' ');
    return Message.substr(0, 3) + " " + Padded.substr(4);
}

std::vector<float> ToFloat(const std::vector<std::int16_t> &Samples) {
    return {Samples.begin(), Samples.end()};
}

std::vector<float> Resample(const std::vector<float> &Samples, double FromRate, double ToRate) {
    TResampler Resampler(FromRate, ToRate);
    std::vector<float> Output;
    Resampler.Process(Samples, Output);
    Resampler.Finish(Output);
    return Output;
}

void WriteRecording(const std::filesystem::path &Path,
                    const std::vector<std::vector<float>> &Channels, int SampleRate, int Format) {
    SF_INFO Info{};
    Info.samplerate = SampleRate;
    Info.channels = static_cast<int>(Channels.size());
    Info.format = Format;
    SNDFILE *Sound = sf_open(Path.c_str(), SFM_WRITE, &Info);
    if (!Sound)
        throw std::runtime_error(std::string("cannot write test recording: ") +
                                 sf_strerror(nullptr));
    // Full scale is 32768 in the float samples given here.
    std::vector<float> Frames;
    for (std::size_t Frame = 0; Frame < Channels.front().size(); ++Frame)
        for (const std::vector<float> &Channel : Channels)
            Frames.push_back(Channel[Frame] / 32768.0f);
    sf_writef_float(Sound, Frames.data(), Channels.front().size());
    sf_close(Sound);
}
