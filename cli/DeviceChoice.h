#pragma once

// Choosing the sound input by name: a wave-in service that hands every call to
// another one, with the preferred input (WAVE_MAPPER) standing for the chosen input.
// The receiver and the recorder stay as they are; they always record from the
// preferred input.
//
// The name is looked up again at every open, among the inputs offered at that moment,
// and the input found is opened by its lasting name (the sound server's source name):
// device numbers change with the back-end and as inputs come and go, so none is kept.
// While the named input is not offered, it is missing as any input can be
// (MMSYSERR_NODRIVER): the recorder waits for it rather than record from another one.
// Once found, the name stands for that input's lasting name only: a second card of the
// same make (the sound server names it "<name>.2") is never taken while the first is
// away, nor does it make the name ambiguous.

#include "platform/WaveInService.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The inputs the service offers, as --list-devices shows them.
std::vector<platform::TInputName> OfferedInputs(platform::IWaveInService &Service);

// The inputs Name stands for among Offered: the one whose lasting name it is; else
// those it is the description of; else those whose lasting name or description begins
// with it. More than one is ambiguous.
std::vector<platform::TInputName> MatchingInputs(const std::vector<platform::TInputName> &Offered,
                                                 const std::string &Name);

class TChosenDeviceService final : public platform::IWaveInService {
public:
    // EToolError when Name is empty or stands for more than one input now (the message
    // lists them). An input that is not there is waited for, as one unplugged while
    // recording is: a radio's sound card may come up after the program. Listing is the
    // command line that lists the names, for the messages.
    TChosenDeviceService(platform::IWaveInService &Base, std::string Name,
                         const std::string &Listing);

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
    // A missing input is told as the named one missing, or named twice.
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) override;

private:
    // The device number among Offered of the one input the name stands for; none when
    // it stands for none or several.
    std::optional<UINT> Chosen(const std::vector<platform::TInputName> &Offered);

    platform::IWaveInService &FBase;
    const std::string FName;
    const std::string FMissingText;
    const std::string FAmbiguousText;
    // Whether the last look-up found several inputs: an open and its error text may
    // come from another thread than the listing.
    std::atomic<bool> FAmbiguous = false;
    std::mutex FLock;
    std::string FFound; // the lasting name of the input found first; guarded by FLock
};
