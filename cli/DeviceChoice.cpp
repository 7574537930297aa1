#include "cli/DeviceChoice.h"

#include "cli/SilencedOutput.h"
#include "cli/ToolMain.h"
#include "platform/WaveInQueue.h"

#include <unistd.h>

namespace {

using platform::TInputName;

std::vector<TInputName> Where(const std::vector<TInputName> &Offered,
                              bool (*Matches)(const TInputName &, const std::string &),
                              const std::string &Name) {
    std::vector<TInputName> Found;
    for (const TInputName &Input : Offered)
        if (Matches(Input, Name))
            Found.push_back(Input);
    return Found;
}

bool IsLastingName(const TInputName &Input, const std::string &Name) {
    return Input.Lasting == Name;
}
bool IsDescription(const TInputName &Input, const std::string &Name) {
    return Input.Description == Name;
}
bool BeginsWith(const TInputName &Input, const std::string &Name) {
    return Input.Lasting.starts_with(Name) || Input.Description.starts_with(Name);
}

std::string LastingNames(const std::vector<TInputName> &Inputs) {
    std::string Text;
    for (const TInputName &Input : Inputs)
        Text += (Text.empty() ? "" : ", ") + Input.Lasting;
    return Text;
}

} // namespace

std::vector<TInputName> MatchingInputs(const std::vector<TInputName> &Offered,
                                       const std::string &Name) {
    for (auto Matches : {IsLastingName, IsDescription, BeginsWith})
        if (auto Found = Where(Offered, Matches, Name); !Found.empty())
            return Found;
    return {};
}

// Some sound libraries print their own notes when probed.
std::vector<TInputName> OfferedInputs(platform::IWaveInService &Service) {
    const TSilencedOutput Quiet(STDERR_FILENO);
    return Service.Inputs();
}

TChosenDeviceService::TChosenDeviceService(platform::IWaveInService &Base, std::string Name,
                                           const std::string &Listing)
    : FBase(Base), FName(std::move(Name)),
      FMissingText("No sound input named '" + FName + "' was found."),
      FAmbiguousText("More than one sound input is named '" + FName + "'.") {
    if (FName.empty())
        throw EToolError("--device needs the name of a sound input (see " + Listing + ")");
    const std::vector<TInputName> Offered = OfferedInputs(Base);
    const std::vector<TInputName> Found = MatchingInputs(Offered, FName);
    if (Found.size() > 1)
        throw EToolError("more than one sound input is named '" + FName +
                         "': give one of these names instead: " + LastingNames(Found));
}

// Not silenced, unlike the listing: while the program runs, another thread may be
// reporting on stderr. The back-ends' own opens are not silenced either.
std::optional<UINT> TChosenDeviceService::Chosen(const std::vector<TInputName> &Offered) {
    std::vector<TInputName> Found;
    {
        std::lock_guard Guard(FLock);
        Found =
            FFound.empty() ? MatchingInputs(Offered, FName) : Where(Offered, IsLastingName, FFound);
        if (Found.size() == 1)
            FFound = Found.front().Lasting;
    }
    FAmbiguous = Found.size() > 1;
    for (UINT Device = 0; Found.size() == 1 && Device < Offered.size(); ++Device)
        if (Offered[Device].Lasting == Found.front().Lasting)
            return Device;
    return std::nullopt;
}

UINT TChosenDeviceService::GetNumDevs() {
    return FBase.GetNumDevs();
}
MMRESULT TChosenDeviceService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    if (!platform::IsWaveMapper(DeviceID))
        return FBase.GetDevCaps(DeviceID, Caps, CapsSize);
    const std::optional<UINT> Device = Chosen(FBase.Inputs());
    return Device ? FBase.GetDevCaps(*Device, Caps, CapsSize) : MMSYSERR_NODRIVER;
}
MMRESULT TChosenDeviceService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                    DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) {
    if (!platform::IsWaveMapper(DeviceID))
        return FBase.Open(WaveIn, DeviceID, Format, Callback, Instance, Flags);
    const std::vector<TInputName> Offered = FBase.Inputs();
    const std::optional<UINT> Device = Chosen(Offered);
    return Device ? FBase.OpenNamed(WaveIn, Offered[*Device].Lasting, Format, Callback, Instance,
                                    Flags)
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
    const platform::TErrorText Missing[] = {
        {MMSYSERR_NODRIVER, (FAmbiguous ? FAmbiguousText : FMissingText).c_str()}};
    if (Code == MMSYSERR_NODRIVER)
        return platform::CopyErrorText(Missing, Code, Text, TextSize);
    return FBase.GetErrorText(Code, Text, TextSize);
}
