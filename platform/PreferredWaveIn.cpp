#include "platform/PreferredWaveIn.h"

#include "platform/InputChanges.h"
#include "platform/WaveInQueue.h"

#include <chrono>

namespace platform {
namespace {

// How long the first question waits for the watch's first answer: as long as an open
// waits for a server.
constexpr auto FirstAnswerPatience = std::chrono::milliseconds(1500);

} // namespace

TPreferredWaveInService::TPreferredWaveInService(TSoundServerLoop Loop)
    : FServer(Loop), FWatch(AnnounceInputChange) {}

IWaveInService *TPreferredWaveInService::Choose() {
    const TSoundServerAnswer Server =
        FWatch.Answer(std::chrono::steady_clock::now() + FirstAnswerPatience);
    switch (Server.State) {
    case TSoundServerState::Answering:
        return Server.HasSource ? &FServer : nullptr;
    case TSoundServerState::Silent:
        // ALSA's default would lead to the same server, and wait for it.
        return nullptr;
    case TSoundServerState::Absent:
        break;
    }
    return HasSoundCard() ? &FHardware : nullptr;
}

template <class TCall> MMRESULT TPreferredWaveInService::Route(HWAVEIN WaveIn, TCall Action) {
    TOpenDevice Device{};
    {
        std::lock_guard Guard(FLock);
        auto Found = FDevices.find(WaveIn);
        if (Found == FDevices.end())
            return MMSYSERR_INVALHANDLE;
        Device = Found->second;
    }
    return Action(*Device.BackEnd, Device.Handle);
}

UINT TPreferredWaveInService::GetNumDevs() {
    IWaveInService *BackEnd = Choose();
    return BackEnd ? BackEnd->GetNumDevs() : 0;
}

MMRESULT TPreferredWaveInService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    IWaveInService *BackEnd = Choose();
    return BackEnd ? BackEnd->GetDevCaps(DeviceID, Caps, CapsSize) : MMSYSERR_NODRIVER;
}

MMRESULT TPreferredWaveInService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                       DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) {
    return OpenThrough(WaveIn, Format, Flags, [&](IWaveInService &BackEnd, HWAVEIN *Handle) {
        return BackEnd.Open(Handle, DeviceID, Format, Callback, Instance, Flags);
    });
}

MMRESULT TPreferredWaveInService::OpenNamed(HWAVEIN *WaveIn, const std::string &Name,
                                            const WAVEFORMATEX *Format, DWORD_PTR Callback,
                                            DWORD_PTR Instance, DWORD Flags) {
    return OpenThrough(WaveIn, Format, Flags, [&](IWaveInService &BackEnd, HWAVEIN *Handle) {
        return BackEnd.OpenNamed(Handle, Name, Format, Callback, Instance, Flags);
    });
}

std::vector<TInputName> TPreferredWaveInService::Inputs() {
    IWaveInService *BackEnd = Choose();
    return BackEnd ? BackEnd->Inputs() : std::vector<TInputName>{};
}

template <class TOpen>
MMRESULT TPreferredWaveInService::OpenThrough(HWAVEIN *WaveIn, const WAVEFORMATEX *Format,
                                              DWORD Flags, TOpen Opening) {
    if (MMRESULT Refused = CheckOpenArguments(Format, Flags))
        return Refused;
    IWaveInService *BackEnd = Choose();
    if (!BackEnd)
        return MMSYSERR_NODRIVER;
    if (!WaveIn && !(Flags & WAVE_FORMAT_QUERY))
        return MMSYSERR_INVALPARAM;
    HWAVEIN Handle = 0;
    const MMRESULT Result = Opening(*BackEnd, WaveIn ? &Handle : nullptr);
    // A server that lets us down may have stopped: then the next attempts need not wait
    // for it.
    if (Result == MMSYSERR_NODRIVER && BackEnd == &FServer)
        FWatch.Doubt();
    if (Result || (Flags & WAVE_FORMAT_QUERY))
        return Result;
    std::lock_guard Guard(FLock);
    FDevices.emplace(++FLastHandle, TOpenDevice{BackEnd, Handle});
    *WaveIn = FLastHandle;
    return MMSYSERR_NOERROR;
}

MMRESULT TPreferredWaveInService::PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return Route(WaveIn, [&](IWaveInService &BackEnd, HWAVEIN Handle) {
        return BackEnd.PrepareHeader(Handle, Header, HeaderSize);
    });
}

MMRESULT TPreferredWaveInService::UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header,
                                                  UINT HeaderSize) {
    return Route(WaveIn, [&](IWaveInService &BackEnd, HWAVEIN Handle) {
        return BackEnd.UnprepareHeader(Handle, Header, HeaderSize);
    });
}

MMRESULT TPreferredWaveInService::AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return Route(WaveIn, [&](IWaveInService &BackEnd, HWAVEIN Handle) {
        return BackEnd.AddBuffer(Handle, Header, HeaderSize);
    });
}

MMRESULT TPreferredWaveInService::Start(HWAVEIN WaveIn) {
    return Route(WaveIn,
                 [](IWaveInService &BackEnd, HWAVEIN Handle) { return BackEnd.Start(Handle); });
}

MMRESULT TPreferredWaveInService::Stop(HWAVEIN WaveIn) {
    return Route(WaveIn,
                 [](IWaveInService &BackEnd, HWAVEIN Handle) { return BackEnd.Stop(Handle); });
}

MMRESULT TPreferredWaveInService::Reset(HWAVEIN WaveIn) {
    return Route(WaveIn,
                 [](IWaveInService &BackEnd, HWAVEIN Handle) { return BackEnd.Reset(Handle); });
}

// The handle stays valid until its device has closed, so that a refused close can be
// asked again.
MMRESULT TPreferredWaveInService::Close(HWAVEIN WaveIn) {
    const MMRESULT Result = Route(
        WaveIn, [](IWaveInService &BackEnd, HWAVEIN Handle) { return BackEnd.Close(Handle); });
    if (Result == MMSYSERR_NOERROR) {
        std::lock_guard Guard(FLock);
        FDevices.erase(WaveIn);
    }
    return Result;
}

MMRESULT TPreferredWaveInService::GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) {
    return Route(WaveIn, [&](IWaveInService &BackEnd, HWAVEIN Handle) {
        return BackEnd.GetPosition(Handle, Time, TimeSize);
    });
}

MMRESULT TPreferredWaveInService::GetErrorText(MMRESULT Code, char *Text, UINT TextSize) {
    return CopyErrorText(WaveInErrorTexts(), Code, Text, TextSize);
}

std::unique_ptr<IWaveInService> CreatePreferredWaveInService(TSoundServerLoop Loop) {
    return std::make_unique<TPreferredWaveInService>(Loop);
}

} // namespace platform
