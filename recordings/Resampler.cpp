#include "recordings/Resampler.h"

#include "cli/ToolMain.h"

#include "recordings/SoundLibraries.h"

#include <string>

namespace {

// Output room per call beyond what the rate ratio predicts: soxr releases the
// samples it held back for its filter in bursts.
constexpr std::size_t OutputMargin = 1024;

} // namespace

TResampler::TResampler(double InputRate, double OutputRate) : FRatio(OutputRate / InputRate) {
    soxr_error_t Error = nullptr;
    const soxr_io_spec_t Io = Soxr().IoSpec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t Quality = Soxr().QualitySpec(SOXR_HQ, 0);
    FSoxr = Soxr().Create(InputRate, OutputRate, 1, &Error, &Io, &Quality, nullptr);
    if (Error)
        throw EToolError(std::string("cannot resample: ") + Error);
}

TResampler::~TResampler() {
    Soxr().Delete(FSoxr);
}

std::size_t TResampler::Run(const float *Input, std::size_t Count, std::vector<float> &Output) {
    const std::size_t Start = Output.size();
    const std::size_t Room = static_cast<std::size_t>(Count * FRatio) + OutputMargin;
    Output.resize(Start + Room);
    std::size_t Consumed = 0, Produced = 0;
    const soxr_error_t Error =
        Soxr().Process(FSoxr, Input, Count, &Consumed, Output.data() + Start, Room, &Produced);
    Output.resize(Start + Produced);
    if (Error)
        throw EToolError(std::string("resampling failed: ") + Error);
    return Input ? Consumed : Produced;
}

void TResampler::Process(std::span<const float> Input, std::vector<float> &Output) {
    std::size_t Done = 0;
    while (Done < Input.size())
        Done += Run(Input.data() + Done, Input.size() - Done, Output);
}

void TResampler::Finish(std::vector<float> &Output) {
    while (Run(nullptr, 0, Output) > 0) {
    }
}
