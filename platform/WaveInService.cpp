#include "platform/WaveInService.h"

#include <cstdio>

namespace platform {
namespace {

// Stands in until a back-end is installed: there is no sound input at all.
class TNoWaveInService final : public IWaveInService {
public:
    UINT GetNumDevs() override { return 0; }
    MMRESULT GetDevCaps(UINT_PTR, WAVEINCAPSA *, UINT) override { return MMSYSERR_NODRIVER; }
    MMRESULT Open(HWAVEIN *, UINT, const WAVEFORMATEX *, DWORD_PTR, DWORD_PTR, DWORD) override {
        return MMSYSERR_NODRIVER;
    }
    MMRESULT PrepareHeader(HWAVEIN, WAVEHDR *, UINT) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT UnprepareHeader(HWAVEIN, WAVEHDR *, UINT) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT AddBuffer(HWAVEIN, WAVEHDR *, UINT) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Start(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Stop(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Reset(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Close(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT GetPosition(HWAVEIN, MMTIME *, UINT) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) override {
        static constexpr TErrorText Texts[] = {
            {MMSYSERR_NODRIVER, "No sound input was found."},
            {MMSYSERR_INVALHANDLE, "The sound input is not open."},
        };
        return CopyErrorText(Texts, Code, Text, TextSize);
    }
};

TNoWaveInService NoService;
IWaveInService *CurrentService = &NoService;

} // namespace

MMRESULT CopyErrorText(std::span<const TErrorText> Texts, MMRESULT Code, char *Text,
                       UINT TextSize) {
    if (!Text || TextSize == 0)
        return MMSYSERR_INVALPARAM;
    for (const TErrorText &Entry : Texts)
        if (Entry.Code == Code) {
            std::snprintf(Text, TextSize, "%s", Entry.Text);
            return MMSYSERR_NOERROR;
        }
    Text[0] = '\0';
    return MMSYSERR_BADERRNUM;
}

std::vector<TInputName> IWaveInService::Inputs() {
    std::vector<TInputName> Names;
    const UINT Count = GetNumDevs();
    for (UINT Device = 0; Device < Count; ++Device) {
        WAVEINCAPSA Caps{};
        const std::string Name = GetDevCaps(Device, &Caps, sizeof Caps) ? "" : Caps.szPname;
        Names.push_back({Name, Name});
    }
    return Names;
}

MMRESULT IWaveInService::OpenNamed(HWAVEIN *WaveIn, const std::string &Name,
                                   const WAVEFORMATEX *Format, DWORD_PTR Callback,
                                   DWORD_PTR Instance, DWORD Flags) {
    const std::vector<TInputName> Offered = Inputs();
    for (UINT Device = 0; Device < Offered.size(); ++Device)
        if (Offered[Device].Lasting == Name)
            return Open(WaveIn, Device, Format, Callback, Instance, Flags);
    return MMSYSERR_NODRIVER;
}

IWaveInService *SetWaveInService(IWaveInService *Service) {
    IWaveInService *Previous = CurrentService;
    CurrentService = Service ? Service : &NoService;
    return Previous;
}

IWaveInService &WaveInService() {
    return *CurrentService;
}

} // namespace platform
