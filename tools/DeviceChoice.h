#pragma once

// Choosing the sound input by name: a wave-in service that hands every call to
// another one, with the preferred input (WAVE_MAPPER) standing for the chosen device.
// The receiver and the recorder stay as they are; they always record from the
// preferred input.
//
// The name is looked up again at every open, among the devices offered at that moment:
// the preferred service picks its back-end afresh at each open, and device numbers
// change with the back-end and as inputs come and go. While the named device is not
// offered, it is missing as any input can be (MMSYSERR_NODRIVER): the recorder waits
// for it rather than record from another one.

#include "platform/WaveInService.h"

#include <optional>
#include <string>
#include <vector>

// The names of the devices the service offers, by device number, as --list-devices
// shows them (cut to the capability record's 31 bytes).
std::vector<std::string> DeviceNames(platform::IWaveInService &Service);

class TChosenDeviceService final : public platform::IWaveInService {
public:
    // Name is one of DeviceNames(Base), the longer name one of them was cut from, or a
    // device number. EToolError when it is empty, or when Base offers devices and none
    // of them is Name (a typo, most likely); with no device offered yet it is waited for.
    TChosenDeviceService(platform::IWaveInService &Base, std::string Name);

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
    // A missing input is told as the named one missing.
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) override;

private:
    // The device DeviceID stands for now; none when the preferred input is asked for
    // and the named device is not offered.
    std::optional<UINT_PTR> Chosen(UINT_PTR DeviceID);

    platform::IWaveInService &FBase;
    const std::string FName;
    const std::string FMissingText;
};
