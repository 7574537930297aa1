#include "platform/SimulatedWaveIn.h"

#include "platform/MessageServices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr auto ClockPeriod = std::chrono::milliseconds(5);

constexpr TErrorText ErrorTexts[] = {
    {MMSYSERR_NOERROR, "No error."},
    {MMSYSERR_ERROR, "The simulated sound input failed."},
    {MMSYSERR_BADDEVICEID, "There is no simulated sound input with this number."},
    {MMSYSERR_NOTENABLED, "The simulated sound input is switched off."},
    {MMSYSERR_ALLOCATED, "The simulated sound input is in use by someone else."},
    {MMSYSERR_INVALHANDLE, "The simulated sound input is not open."},
    {MMSYSERR_NODRIVER, "No simulated sound input is installed."},
    {MMSYSERR_NOMEM, "Out of memory."},
    {MMSYSERR_NOTSUPPORTED, "The simulated sound input cannot do that."},
    {MMSYSERR_INVALFLAG, "An unknown flag was passed to the simulated sound input."},
    {MMSYSERR_INVALPARAM, "A bad parameter was passed to the simulated sound input."},
    {WAVERR_BADFORMAT, "The simulated sound input cannot record in this format."},
    {WAVERR_STILLPLAYING, "The simulated sound input still holds buffers."},
    {WAVERR_UNPREPARED, "The buffer was not prepared for the simulated sound input."},
};

bool SameFormat(const WAVEFORMATEX &A, const WAVEFORMATEX &B) {
    return A.wFormatTag == B.wFormatTag && A.nChannels == B.nChannels &&
           A.nSamplesPerSec == B.nSamplesPerSec && A.nAvgBytesPerSec == B.nAvgBytesPerSec &&
           A.nBlockAlign == B.nBlockAlign && A.wBitsPerSample == B.wBitsPerSample;
}

bool IsPlainPCM(const WAVEFORMATEX &Format) {
    return Format.wFormatTag == WAVE_FORMAT_PCM &&
           (Format.nChannels == 1 || Format.nChannels == 2) &&
           (Format.wBitsPerSample == 8 || Format.wBitsPerSample == 16) &&
           Format.nSamplesPerSec > 0 &&
           Format.nBlockAlign == Format.nChannels * Format.wBitsPerSample / 8 &&
           Format.nAvgBytesPerSec == Format.nBlockAlign * Format.nSamplesPerSec;
}

void FillSilence(const WAVEFORMATEX &Format, char *Data, DWORD Size) {
    std::memset(Data, Format.wBitsPerSample == 8 ? 0x80 : 0, Size);
}

} // namespace

TSimulatedWaveInService::TSimulatedWaveInService() : FDevices(1) {}

TSimulatedWaveInService::~TSimulatedWaveInService() {
    {
        TGuard Guard(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    if (FClock.joinable())
        FClock.join();
}

void TSimulatedWaveInService::SetDevices(std::vector<TDevice> Devices) {
    TGuard Guard(FMutex);
    FDevices = std::move(Devices);
}

void TSimulatedWaveInService::SetDelivery(TDelivery Delivery) {
    TGuard Guard(FMutex);
    FDelivery = Delivery;
    if (Delivery == TDelivery::RealTime && !FClock.joinable())
        FClock = std::thread([this] { RunClock(); });
}

void TSimulatedWaveInService::SetSource(TSampleSource Source) {
    TGuard Guard(FMutex);
    FSource = std::move(Source);
}

void TSimulatedWaveInService::SetSamples(std::vector<char> Samples) {
    if (Samples.empty())
        return SetSilence();
    SetSource([Samples = std::move(Samples)](const WAVEFORMATEX &, std::uint64_t Offset, char *Data,
                                             DWORD Size) {
        for (DWORD I = 0; I < Size; ++I)
            Data[I] = Samples[(Offset + I) % Samples.size()];
    });
}

void TSimulatedWaveInService::SetSilence() {
    SetSource(nullptr);
}

void TSimulatedWaveInService::HoldAfter(std::uint64_t Bytes) {
    TGuard Guard(FMutex);
    FHold = Bytes;
}

void TSimulatedWaveInService::ReleaseHold() {
    TGuard Guard(FMutex);
    FHold.reset();
    for (auto &[Handle, Stream] : FStreams)
        RecordAsFastAsQueued(Stream);
}

void TSimulatedWaveInService::InjectFailure(TOperation Operation, MMRESULT Code, bool Always,
                                            int Skip) {
    TGuard Guard(FMutex);
    FFailures[Operation] = {Code, Always, Skip};
}

void TSimulatedWaveInService::ClearFailures() {
    TGuard Guard(FMutex);
    FFailures.clear();
}

int TSimulatedWaveInService::Calls(TOperation Operation) const {
    TGuard Guard(FMutex);
    return FCalls[static_cast<std::size_t>(Operation)];
}

int TSimulatedWaveInService::QueuedBuffers() const {
    TGuard Guard(FMutex);
    std::size_t Count = 0;
    for (const auto &[Handle, Stream] : FStreams)
        Count += Stream.Queue.size();
    return static_cast<int>(Count);
}

int TSimulatedWaveInService::OpenDevices() const {
    TGuard Guard(FMutex);
    return static_cast<int>(FStreams.size());
}

// Counts the call and answers with an injected failure, if one is due. Runs locked.
std::optional<MMRESULT> TSimulatedWaveInService::Enter(TOperation Operation) {
    ++FCalls[static_cast<std::size_t>(Operation)];
    auto Failure = FFailures.find(Operation);
    if (Failure == FFailures.end())
        return std::nullopt;
    if (Failure->second.Skip > 0) {
        --Failure->second.Skip;
        return std::nullopt;
    }
    MMRESULT Code = Failure->second.Code;
    if (!Failure->second.Always)
        FFailures.erase(Failure);
    return Code;
}

const TSimulatedWaveInService::TDevice *
TSimulatedWaveInService::FindDevice(UINT_PTR DeviceID) const {
    UINT_PTR Index = DeviceID == WAVE_MAPPER ? 0 : DeviceID;
    return Index < FDevices.size() ? &FDevices[Index] : nullptr;
}

MMRESULT TSimulatedWaveInService::DeviceState(UINT_PTR DeviceID) const {
    const TDevice *Device = FindDevice(DeviceID);
    if (!Device)
        return FDevices.empty() ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID;
    return Device->Presence == TPresence::Absent ? Device->AbsentCode : MMSYSERR_NOERROR;
}

bool TSimulatedWaveInService::Accepts(const TDevice &Device, const WAVEFORMATEX &Format) const {
    if (Device.Formats.empty())
        return IsPlainPCM(Format);
    return std::any_of(Device.Formats.begin(), Device.Formats.end(),
                       [&](const WAVEFORMATEX &Accepted) { return SameFormat(Accepted, Format); });
}

template <typename TAction>
MMRESULT TSimulatedWaveInService::OnStream(TOperation Operation, HWAVEIN WaveIn, TAction Action) {
    TGuard Guard(FMutex);
    if (auto Failure = Enter(Operation))
        return *Failure;
    TStream *Stream = FindStream(WaveIn);
    return Stream ? Action(*Stream) : MMSYSERR_INVALHANDLE;
}

TSimulatedWaveInService::TStream *TSimulatedWaveInService::FindStream(HWAVEIN WaveIn) {
    auto Found = FStreams.find(WaveIn);
    return Found == FStreams.end() ? nullptr : &Found->second;
}

UINT TSimulatedWaveInService::GetNumDevs() {
    TGuard Guard(FMutex);
    if (Enter(TOperation::GetNumDevs))
        return 0;
    return static_cast<UINT>(FDevices.size());
}

std::vector<TInputName> TSimulatedWaveInService::Inputs() {
    TGuard Guard(FMutex);
    std::vector<TInputName> Names;
    for (const TDevice &Device : FDevices)
        Names.push_back({Device.Lasting.empty() ? Device.Name : Device.Lasting, Device.Name});
    return Names;
}

MMRESULT TSimulatedWaveInService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    TGuard Guard(FMutex);
    if (auto Failure = Enter(TOperation::GetDevCaps))
        return *Failure;
    if (!Caps || CapsSize != sizeof(WAVEINCAPSA))
        return MMSYSERR_INVALPARAM;
    if (MMRESULT State = DeviceState(DeviceID))
        return State;
    const TDevice &Device = *FindDevice(DeviceID);
    *Caps = WAVEINCAPSA{};
    std::snprintf(Caps->szPname, sizeof(Caps->szPname), "%s", Device.Name.c_str());
    Caps->dwFormats = Device.FormatBits;
    Caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedWaveInService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                       DWORD_PTR Callback, DWORD_PTR, DWORD Flags) {
    TGuard Guard(FMutex);
    bool Query = Flags & WAVE_FORMAT_QUERY;
    if (auto Failure = Enter(Query ? TOperation::Query : TOperation::Open))
        return *Failure;
    if (!Format)
        return MMSYSERR_INVALPARAM;
    if (MMRESULT State = DeviceState(DeviceID))
        return State;
    const TDevice &Device = *FindDevice(DeviceID);
    if (!Accepts(Device, *Format))
        return WAVERR_BADFORMAT;
    if (Query)
        return MMSYSERR_NOERROR;
    if (Device.Presence == TPresence::Busy)
        return MMSYSERR_ALLOCATED;
    DWORD CallbackType = Flags & (CALLBACK_WINDOW | CALLBACK_THREAD);
    if (!WaveIn || (CallbackType != CALLBACK_WINDOW && CallbackType != CALLBACK_THREAD))
        return MMSYSERR_INVALPARAM;

    HWAVEIN Handle = FNextHandle++;
    TStream &Stream = FStreams[Handle];
    Stream.Format = *Format;
    Stream.Callback = Callback;
    Stream.CallbackType = CallbackType;
    *WaveIn = Handle;
    if (!PostCallbackMessage(Callback, CallbackType, MM_WIM_OPEN, 0)) {
        FStreams.erase(Handle);
        *WaveIn = 0;
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedWaveInService::PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return OnStream(TOperation::PrepareHeader, WaveIn, [&](TStream &) -> MMRESULT {
        if (!Header || HeaderSize != sizeof(WAVEHDR) || !Header->lpData || !Header->dwBufferLength)
            return MMSYSERR_INVALPARAM;
        Header->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header,
                                                  UINT HeaderSize) {
    return OnStream(TOperation::UnprepareHeader, WaveIn, [&](TStream &) -> MMRESULT {
        if (!Header || HeaderSize != sizeof(WAVEHDR))
            return MMSYSERR_INVALPARAM;
        if (Header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        Header->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return OnStream(TOperation::AddBuffer, WaveIn, [&](TStream &Stream) -> MMRESULT {
        if (!Header || HeaderSize != sizeof(WAVEHDR) || (Header->dwFlags & WHDR_INQUEUE))
            return MMSYSERR_INVALPARAM;
        if (!(Header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        Header->dwFlags = (Header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        Header->dwBytesRecorded = 0;
        Stream.Queue.push_back(Header);
        RecordAsFastAsQueued(Stream);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::Start(HWAVEIN WaveIn) {
    return OnStream(TOperation::Start, WaveIn, [&](TStream &Stream) -> MMRESULT {
        if (!Stream.Started) {
            Stream.Started = true;
            Stream.StartedAt = std::chrono::steady_clock::now();
            Stream.RealTimeDone = 0;
        }
        RecordAsFastAsQueued(Stream);
        FWake.notify_all();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::Stop(HWAVEIN WaveIn) {
    return OnStream(TOperation::Stop, WaveIn, [&](TStream &Stream) -> MMRESULT {
        Stream.Started = false;
        if (!Stream.Queue.empty() && Stream.Queue.front()->dwBytesRecorded > 0)
            ReturnHead(Stream);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::Reset(HWAVEIN WaveIn) {
    return OnStream(TOperation::Reset, WaveIn, [&](TStream &Stream) -> MMRESULT {
        Stream.Started = false;
        while (!Stream.Queue.empty())
            ReturnHead(Stream);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::Close(HWAVEIN WaveIn) {
    return OnStream(TOperation::Close, WaveIn, [&](TStream &Stream) -> MMRESULT {
        if (!Stream.Queue.empty())
            return WAVERR_STILLPLAYING;
        Post(Stream, MM_WIM_CLOSE, 0);
        FStreams.erase(WaveIn);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) {
    return OnStream(TOperation::GetPosition, WaveIn, [&](TStream &Stream) -> MMRESULT {
        if (!Time || TimeSize != sizeof(MMTIME))
            return MMSYSERR_INVALPARAM;
        // Like many drivers, answers in bytes whatever was asked for.
        Time->wType = TIME_BYTES;
        Time->u.cb = static_cast<DWORD>(Stream.Recorded);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TSimulatedWaveInService::GetErrorText(MMRESULT Code, char *Text, UINT TextSize) {
    TGuard Guard(FMutex);
    if (auto Failure = Enter(TOperation::GetErrorText))
        return *Failure;
    return CopyErrorText(ErrorTexts, Code, Text, TextSize);
}

void TSimulatedWaveInService::Post(const TStream &Stream, UINT Msg, LPARAM Param) const {
    PostCallbackMessage(Stream.Callback, Stream.CallbackType, Msg, Param);
}

// Records up to Bytes into the queued buffers, returning each one that fills up, as
// far as the hold allows. Runs locked; returns the bytes the stream took.
std::uint64_t TSimulatedWaveInService::Record(TStream &Stream, std::uint64_t Bytes) {
    std::uint64_t Taken = 0;
    while (Taken < Bytes && !Stream.Queue.empty() && FHold.value_or(1) > 0) {
        WAVEHDR &Head = *Stream.Queue.front();
        std::uint64_t Chunk =
            std::min<std::uint64_t>(Head.dwBufferLength - Head.dwBytesRecorded, Bytes - Taken);
        if (FHold)
            Chunk = std::min(Chunk, *FHold);
        char *Data = Head.lpData + Head.dwBytesRecorded;
        DWORD Size = static_cast<DWORD>(Chunk);
        if (FSource)
            FSource(Stream.Format, Stream.Recorded, Data, Size);
        else
            FillSilence(Stream.Format, Data, Size);
        Head.dwBytesRecorded += Size;
        Stream.Recorded += Chunk;
        Taken += Chunk;
        if (FHold)
            *FHold -= Chunk;
        if (Head.dwBytesRecorded == Head.dwBufferLength)
            ReturnHead(Stream);
    }
    return Taken;
}

void TSimulatedWaveInService::ReturnHead(TStream &Stream) {
    WAVEHDR *Head = Stream.Queue.front();
    Stream.Queue.pop_front();
    Head->dwFlags = (Head->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Post(Stream, MM_WIM_DATA, reinterpret_cast<LPARAM>(Head));
}

void TSimulatedWaveInService::RecordAsFastAsQueued(TStream &Stream) {
    if (Stream.Started && FDelivery == TDelivery::AsFastAsQueued)
        Record(Stream, UINT64_MAX);
}

void TSimulatedWaveInService::RunClock() {
    TGuard Guard(FMutex);
    while (!FStopping) {
        FWake.wait_for(Guard, ClockPeriod);
        if (FDelivery != TDelivery::RealTime)
            continue;
        auto Now = std::chrono::steady_clock::now();
        for (auto &[Handle, Stream] : FStreams)
            Tick(Stream, Now);
    }
}

// Records what the format's byte rate has produced since the last tick; what finds
// no queued buffer is lost, as with a real device.
void TSimulatedWaveInService::Tick(TStream &Stream, std::chrono::steady_clock::time_point Now) {
    if (!Stream.Started)
        return;
    auto Elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Now - Stream.StartedAt);
    std::uint64_t Due =
        static_cast<std::uint64_t>(Elapsed.count()) * Stream.Format.nAvgBytesPerSec / 1000000;
    if (Stream.Format.nBlockAlign > 1)
        Due -= Due % Stream.Format.nBlockAlign;
    if (Due > Stream.RealTimeDone) {
        Record(Stream, Due - Stream.RealTimeDone);
        Stream.RealTimeDone = Due;
    }
}

} // namespace platform
