#pragma once

// The sound input a program listens through: the sound server's when one answers,
// else ALSA's, straight from the hardware.

#include "platform/WaveInService.h"

#include <memory>

namespace platform {

std::unique_ptr<IWaveInService> CreatePreferredWaveInService();

} // namespace platform
