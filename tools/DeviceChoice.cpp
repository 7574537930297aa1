#include "tools/DeviceChoice.h"

#include "platform/WaveInQueue.h"
#include "tools/SilencedOutput.h"
#include "tools/ToolMain.h"

#include <algorithm>
#include <unistd.h>

namespace {

std::vector<std::string> OfferedNames(platform::IWaveInService &Service) {
    std::vector<std::string> Names;
    const UINT Count = Service.GetNumDevs();
    for (UINT Device = 0; Device < Count; ++Device) {
        WAVEINCAPSA Caps{};
        Names.emplace_back(
            Service.GetDevCaps(Device, &Caps, sizeof Caps) == MMSYSERR_NOERROR ? Caps.szPname : "");
    }
    return Names;
}

// Name as the capability record holds it.
std::string CutName(const std::string &Name) {
    char Cut[MAXPNAMELEN];
    platform::CopyDeviceName(Cut, Name);
    return Cut;
}

bool IsDeviceNumber(const std::string &Name) {
    return !Name.empty() && Name.find_first_not_of("0123456789") == std::string::npos &&
           Name.size() < 6;
}

// The device Name stands for among Names: a listed name first; then a longer name cut
// to a listed one (a description copied from the sound server); then a device number.
std::optional<UINT_PTR> FindDevice(const std::vector<std::string> &Names, const std::string &Name) {
    auto Found = std::find(Names.begin(), Names.end(), Name);
    if (Found == Names.end() && Name.size() >= MAXPNAMELEN)
        if (const std::string Cut = CutName(Name); !Cut.empty())
            Found = std::find(Names.begin(), Names.end(), Cut);
    if (Found != Names.end())
        return UINT_PTR(Found - Names.begin());
    if (IsDeviceNumber(Name) && std::stoul(Name) < Names.size())
        return std::stoul(Name);
    return std::nullopt;
}

} // namespace

// Some sound libraries print their own notes when probed.
std::vector<std::string> DeviceNames(platform::IWaveInService &Service) {
    const TSilencedOutput Quiet(STDERR_FILENO);
    return OfferedNames(Service);
}

TChosenDeviceService::TChosenDeviceService(platform::IWaveInService &Base, std::string Name)
    : FBase(Base), FName(std::move(Name)),
      FMissingText("No sound input named '" + FName + "' was found.") {
    if (FName.empty())
        throw EToolError("--device needs the name or number of a sound input (see --list-devices)");
    const std::vector<std::string> Names = DeviceNames(Base);
    if (!Names.empty() && !FindDevice(Names, FName))
        throw EToolError("no sound input named '" + FName + "' (see --list-devices)");
}

// Not silenced, unlike the listing: while the program runs, another thread may be
// reporting on stderr. The back-ends' own opens are not silenced either.
std::optional<UINT_PTR> TChosenDeviceService::Chosen(UINT_PTR DeviceID) {
    if (!platform::IsWaveMapper(DeviceID))
        return DeviceID;
    return FindDevice(OfferedNames(FBase), FName);
}

UINT TChosenDeviceService::GetNumDevs() {
    return FBase.GetNumDevs();
}
MMRESULT TChosenDeviceService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    const std::optional<UINT_PTR> Device = Chosen(DeviceID);
    return Device ? FBase.GetDevCaps(*Device, Caps, CapsSize) : MMSYSERR_NODRIVER;
}
MMRESULT TChosenDeviceService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                    DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) {
    const std::optional<UINT_PTR> Device = Chosen(DeviceID);
    return Device ? FBase.Open(WaveIn, UINT(*Device), Format, Callback, Instance, Flags)
                  : MMSYSERR_NODRIVER;
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
    const platform::TErrorText Missing[] = {{MMSYSERR_NODRIVER, FMissingText.c_str()}};
    if (Code == MMSYSERR_NODRIVER)
        return platform::CopyErrorText(Missing, Code, Text, TextSize);
    return FBase.GetErrorText(Code, Text, TextSize);
}
