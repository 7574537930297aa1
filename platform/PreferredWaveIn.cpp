#include "platform/PreferredWaveIn.h"

#include "platform/AlsaWaveIn.h"
#include "platform/PulseWaveIn.h"

namespace platform {

std::unique_ptr<IWaveInService> CreatePreferredWaveInService() {
    if (SoundServerAnswers())
        return std::make_unique<TPulseWaveInService>();
    return std::make_unique<TAlsaWaveInService>();
}

} // namespace platform
