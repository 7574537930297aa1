#include "tools/DeviceChoice.h"

#include "tools/SilencedOutput.h"
#include "tools/ToolMain.h"

#include <algorithm>
#include <unistd.h>

std::vector<std::string> DeviceNames(platform::IWaveInService &Service) {
    const TSilencedOutput Quiet(STDERR_FILENO);
    std::vector<std::string> Names;
    const UINT Count = Service.GetNumDevs();
    for (UINT Device = 0; Device < Count; ++Device) {
        WAVEINCAPSA Caps{};
        Names.emplace_back(
            Service.GetDevCaps(Device, &Caps, sizeof Caps) == MMSYSERR_NOERROR ? Caps.szPname : "");
    }
    return Names;
}

namespace {

UINT_PTR FindDevice(platform::IWaveInService &Service, const std::string &Name) {
    const std::vector<std::string> Names = DeviceNames(Service);
    const auto Found = std::find(Names.begin(), Names.end(), Name);
    if (Found != Names.end())
        return UINT_PTR(Found - Names.begin());
    if (!Name.empty() && Name.find_first_not_of("0123456789") == std::string::npos &&
        Name.size() < 6 && std::stoul(Name) < Names.size())
        return std::stoul(Name);
    throw EToolError("no sound input named '" + Name + "' (see --list-devices)");
}

} // namespace

TChosenDeviceService::TChosenDeviceService(platform::IWaveInService &Base, const std::string &Name)
    : FBase(Base), FDevice(FindDevice(Base, Name)) {}

UINT_PTR TChosenDeviceService::Chosen(UINT_PTR DeviceID) const {
    const bool Preferred = DeviceID == WAVE_MAPPER || DeviceID == static_cast<UINT_PTR>(-1);
    return Preferred ? FDevice : DeviceID;
}

UINT TChosenDeviceService::GetNumDevs() {
    return FBase.GetNumDevs();
}
MMRESULT TChosenDeviceService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    return FBase.GetDevCaps(Chosen(DeviceID), Caps, CapsSize);
}
MMRESULT TChosenDeviceService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                    DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) {
    return FBase.Open(WaveIn, UINT(Chosen(DeviceID)), Format, Callback, Instance, Flags);
}
MMRESULT TChosenDeviceService::PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return FBase.PrepareHeader(WaveIn, Header, HeaderSize);
}
MMRESULT TChosenDeviceService::UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return FBase.UnprepareHeader(WaveIn, Header, HeaderSize);
}
MMRESULT TChosenDeviceService::AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return FBase.AddBuffer(WaveIn, Header, HeaderSize);
}
MMRESULT TChosenDeviceService::Start(HWAVEIN WaveIn) {
    return FBase.Start(WaveIn);
}
MMRESULT TChosenDeviceService::Stop(HWAVEIN WaveIn) {
    return FBase.Stop(WaveIn);
}
MMRESULT TChosenDeviceService::Reset(HWAVEIN WaveIn) {
    return FBase.Reset(WaveIn);
}
MMRESULT TChosenDeviceService::Close(HWAVEIN WaveIn) {
    return FBase.Close(WaveIn);
}
MMRESULT TChosenDeviceService::GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) {
    return FBase.GetPosition(WaveIn, Time, TimeSize);
}
MMRESULT TChosenDeviceService::GetErrorText(MMRESULT Code, char *Text, UINT TextSize) {
    return FBase.GetErrorText(Code, Text, TextSize);
}
