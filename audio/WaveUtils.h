#pragma once

// What the wave-audio classes share: the fixed PCM formats and their wave-format
// records, buffer sizes, peak levels, event types and exception classes.

#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "platform/WinTypes.h"

#include <bitset>
#include <cstdint>
#include <functional>

enum TPCMFormat : std::uint8_t {
    nonePCM,
    Mono8Bit8000Hz,
    Stereo8bit8000Hz,
    Mono16bit8000Hz,
    Stereo16bit8000Hz,
    Mono8bit11025Hz,
    Stereo8bit11025Hz,
    Mono16bit11025Hz,
    Stereo16bit11025Hz,
    Mono8bit22050Hz,
    Stereo8bit22050Hz,
    Mono16bit22050Hz,
    Stereo16bit22050Hz,
    Mono8bit44100Hz,
    Stereo8bit44100Hz,
    Mono16bit44100Hz,
    Stereo16bit44100Hz,
    Mono8bit48000Hz,
    Stereo8bit48000Hz,
    Mono16bit48000Hz,
    Stereo16bit48000Hz,
};
static_assert(sizeof(TPCMFormat) == 1, "TPCMFormat is stored in one byte");

constexpr std::size_t PCMFormatCount = Stereo16bit48000Hz + 1;

// A set of formats, indexed by the TPCMFormat value.
class TPCMFormats {
public:
    void Include(TPCMFormat Format) { FBits.set(Format); }
    void Exclude(TPCMFormat Format) { FBits.reset(Format); }
    bool Contains(TPCMFormat Format) const { return FBits.test(Format); }
    bool Empty() const { return FBits.none(); }
    bool operator==(const TPCMFormats &) const = default;

private:
    std::bitset<PCMFormatCount> FBits;
};

// Selectors of FillPCMWaveFormat; a value outside the enumerators leaves its field as it was.
enum TPCMChannel : std::uint8_t { cMono, cStereo };
enum TPCMSamplesPerSec : std::uint8_t { ss8000Hz, ss11025Hz, ss22050Hz, ss44100Hz, ss48000Hz };
enum TPCMBitsPerSample : std::uint8_t { bps8Bit, bps16Bit };

void FillPCMWaveFormat(WAVEFORMATEX &WaveFormat, TPCMChannel Channel,
                       TPCMSamplesPerSec SamplesPerSec, TPCMBitsPerSample BitsPerSample);
// nonePCM leaves the record as it was.
void PCMFormatToWaveFormat(WAVEFORMATEX &WaveFormat, TPCMFormat PCMFormat);
// Bytes for Duration milliseconds, raised to a whole number of blocks.
DWORD WaveBufferSizeForDuration(const WAVEFORMATEX &WaveFormat, DWORD Duration);
// Highest positive sample in percent of positive full scale (0..100), all channels
// together; -1 when the buffer is not 8- or 16-bit PCM.
std::int32_t WavePeakLevel(const void *Data, DWORD DataSize, const WAVEFORMATEX &WaveFormat);

using TWaveAudioEvent = std::function<void(TObject *Sender)>;
using TWaveAudioGetFormatEvent =
    std::function<void(TObject *Sender, PWaveFormatEx &pWaveFormat, bool &FreeIt)>;
using TWaveAudioDataReadyEvent =
    std::function<void(TObject *Sender, const void *Buffer, DWORD BufferSize, bool &FreeIt)>;
using TWaveAudioLevelEvent = std::function<void(TObject *Sender, std::int32_t Level)>;

class EWaveAudioError : public Exception {
public:
    using Exception::Exception;
};

class EWaveAudioSysError : public EWaveAudioError {
public:
    using EWaveAudioError::EWaveAudioError;
};

class EWaveAudioInvalidOperation : public EWaveAudioError {
public:
    using EWaveAudioError::EWaveAudioError;
};
