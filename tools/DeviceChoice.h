#pragma once

// Choosing the sound input by name: a wave-in service that hands every call to
// another one, with the preferred input (WAVE_MAPPER) standing for the chosen device.
// The receiver and the recorder stay as they are; they always record from the
// preferred input.

#include "platform/WaveInService.h"

#include <string>
#include <vector>

// The names of the devices the service offers, by device number.
std::vector<std::string> DeviceNames(platform::IWaveInService &Service);

class TChosenDeviceService final : public platform::IWaveInService {
public:
    // Name is one of DeviceNames(Base), or a device number; EToolError otherwise.
    TChosenDeviceService(platform::IWaveInService &Base, const std::string &Name);

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

private:
    UINT_PTR Chosen(UINT_PTR DeviceID) const;

    platform::IWaveInService &FBase;
    UINT_PTR FDevice;
};
