#pragma once

// The sound input on Linux: the wave-in service served by ALSA. WAVE_MAPPER is ALSA's
// "default" capture PCM; devices 0..n-1 are the capture PCMs that ALSA's name hints
// list, whose lasting names are the PCM names (such as "hw:CARD=Device,DEV=0"). Each open device
// records on a thread of its own, which reads from ALSA into the queued buffers and posts the
// notifications; it never calls the engine.

#include "platform/WaveInHandles.h"
#include "platform/WaveInService.h"

namespace platform {

class TAlsaCaptureStream;

// True when the machine has a sound card: a look at the device files, nothing opened.
bool HasSoundCard();

class TAlsaWaveInService final : public IWaveInService {
public:
    TAlsaWaveInService();
    ~TAlsaWaveInService() override;
    TAlsaWaveInService(const TAlsaWaveInService &) = delete;
    TAlsaWaveInService &operator=(const TAlsaWaveInService &) = delete;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) override;
    MMRESULT Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format, DWORD_PTR Callback,
                  DWORD_PTR Instance, DWORD Flags) override;
    MMRESULT PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT Start(HWAVEIN WaveIn) override;
    MMRESULT Stop(HWAVEIN WaveIn) override;
    MMRESULT Reset(HWAVEIN WaveIn) override;
    MMRESULT Close(HWAVEIN WaveIn) override;
    MMRESULT GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) override;
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) override;
    std::vector<TInputName> Inputs() override;
    MMRESULT OpenNamed(HWAVEIN *WaveIn, const std::string &Name, const WAVEFORMATEX *Format,
                       DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) override;

private:
    MMRESULT OpenPcm(HWAVEIN *WaveIn, const std::string &PcmName, const WAVEFORMATEX &Format,
                     DWORD_PTR Callback, DWORD Flags);

    TWaveInHandles<TAlsaCaptureStream> FStreams;
};

} // namespace platform
