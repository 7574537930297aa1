#include "audio/WaveUtils.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

std::int32_t PeakLevel8Bit(const std::uint8_t *Bytes, DWORD Size) {
    std::uint8_t Maximum = 0;
    for (DWORD Index = 0; Index < Size; ++Index)
        Maximum = std::max(Maximum, Bytes[Index]);
    return Maximum >= 128 ? (Maximum - 128) * 100 / 127 : 0;
}

#if defined(__SSE2__)
// The largest of the 16-bit samples in whole 16-byte blocks, and the bytes it looked at:
// the level of every recorded buffer is taken while the receiver only listens.
std::int32_t BlockPeak16Bit(const std::uint8_t *Bytes, DWORD Size, DWORD &Looked) {
    __m128i Peak = _mm_setzero_si128();
    for (Looked = 0; Looked + 16 <= Size; Looked += 16)
        Peak =
            _mm_max_epi16(Peak, _mm_loadu_si128(reinterpret_cast<const __m128i *>(Bytes + Looked)));
    Peak = _mm_max_epi16(Peak, _mm_srli_si128(Peak, 8));
    Peak = _mm_max_epi16(Peak, _mm_srli_si128(Peak, 4));
    Peak = _mm_max_epi16(Peak, _mm_srli_si128(Peak, 2));
    return static_cast<std::int16_t>(_mm_extract_epi16(Peak, 0));
}
#else
std::int32_t BlockPeak16Bit(const std::uint8_t *, DWORD, DWORD &Looked) {
    Looked = 0;
    return 0;
}
#endif

// Whole samples only: an odd trailing byte is not part of a sample.
std::int32_t PeakLevel16Bit(const std::uint8_t *Bytes, DWORD Size) {
    DWORD Looked = 0;
    std::int32_t Maximum = BlockPeak16Bit(Bytes, Size, Looked);
    for (DWORD Index = Looked; Index + 1 < Size; Index += 2) {
        const auto Sample = static_cast<std::int16_t>(Bytes[Index] | (Bytes[Index + 1] << 8));
        Maximum = std::max<std::int32_t>(Maximum, Sample);
    }
    return Maximum * 100 / 32767;
}

} // namespace

void FillPCMWaveFormat(WAVEFORMATEX &WaveFormat, TPCMChannel Channel,
                       TPCMSamplesPerSec SamplesPerSec, TPCMBitsPerSample BitsPerSample) {
    static constexpr DWORD Rates[] = {8000, 11025, 22050, 44100, 48000};
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    if (Channel <= cStereo)
        WaveFormat.nChannels = Channel == cMono ? 1 : 2;
    if (SamplesPerSec <= ss48000Hz)
        WaveFormat.nSamplesPerSec = Rates[SamplesPerSec];
    if (BitsPerSample <= bps16Bit)
        WaveFormat.wBitsPerSample = BitsPerSample == bps8Bit ? 8 : 16;
    WaveFormat.nBlockAlign =
        static_cast<WORD>(MulDiv(WaveFormat.nChannels, WaveFormat.wBitsPerSample, 8));
    WaveFormat.nAvgBytesPerSec = DWORD{WaveFormat.nBlockAlign} * WaveFormat.nSamplesPerSec;
    WaveFormat.cbSize = 0;
}

void PCMFormatToWaveFormat(WAVEFORMATEX &WaveFormat, TPCMFormat PCMFormat) {
    switch (PCMFormat) {
    case nonePCM:
        break;
    case Mono8Bit8000Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss8000Hz, bps8Bit);
        break;
    case Stereo8bit8000Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss8000Hz, bps8Bit);
        break;
    case Mono16bit8000Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss8000Hz, bps16Bit);
        break;
    case Stereo16bit8000Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss8000Hz, bps16Bit);
        break;
    case Mono8bit11025Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss11025Hz, bps8Bit);
        break;
    case Stereo8bit11025Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss11025Hz, bps8Bit);
        break;
    case Mono16bit11025Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss11025Hz, bps16Bit);
        break;
    case Stereo16bit11025Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss11025Hz, bps16Bit);
        break;
    case Mono8bit22050Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss22050Hz, bps8Bit);
        break;
    case Stereo8bit22050Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss22050Hz, bps8Bit);
        break;
    case Mono16bit22050Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss22050Hz, bps16Bit);
        break;
    case Stereo16bit22050Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss22050Hz, bps16Bit);
        break;
    case Mono8bit44100Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss44100Hz, bps8Bit);
        break;
    case Stereo8bit44100Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss44100Hz, bps8Bit);
        break;
    case Mono16bit44100Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss44100Hz, bps16Bit);
        break;
    case Stereo16bit44100Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss44100Hz, bps16Bit);
        break;
    case Mono8bit48000Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss48000Hz, bps8Bit);
        break;
    case Stereo8bit48000Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss48000Hz, bps8Bit);
        break;
    case Mono16bit48000Hz:
        FillPCMWaveFormat(WaveFormat, cMono, ss48000Hz, bps16Bit);
        break;
    case Stereo16bit48000Hz:
        FillPCMWaveFormat(WaveFormat, cStereo, ss48000Hz, bps16Bit);
        break;
    }
}

DWORD WaveBufferSizeForDuration(const WAVEFORMATEX &WaveFormat, DWORD Duration) {
    // Rounded to the nearest byte, halves up, as the multiply-divide does for
    // positive values; 64-bit so that no duration or rate can overflow.
    std::uint64_t Size = (std::uint64_t{Duration} * WaveFormat.nAvgBytesPerSec + 500) / 1000;
    const WORD Block = WaveFormat.nBlockAlign;
    if (Block > 1 && Size % Block != 0)
        Size += Block - Size % Block;
    return static_cast<DWORD>(Size);
}

std::int32_t WavePeakLevel(const void *Data, DWORD DataSize, const WAVEFORMATEX &WaveFormat) {
    if (WaveFormat.wFormatTag != WAVE_FORMAT_PCM)
        return -1;
    const auto *Bytes = static_cast<const std::uint8_t *>(Data);
    switch (WaveFormat.wBitsPerSample) {
    case 8:
        return PeakLevel8Bit(Bytes, DataSize);
    case 16:
        return PeakLevel16Bit(Bytes, DataSize);
    default:
        return -1;
    }
}
