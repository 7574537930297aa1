#include "audio/WaveIn.h"

#include "platform/WaveInService.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT HeaderSize = sizeof(WAVEHDR);

// Sets a flag for the lifetime of a scope.
class TFlagScope {
public:
    explicit TFlagScope(std::atomic<bool> &Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope &) = delete;
    TFlagScope &operator=(const TFlagScope &) = delete;

private:
    std::atomic<bool> &FFlag;
};

// The format record of one open: freed afterwards when the engine owns it.
struct TFormatRecord {
    PWaveFormatEx Record = nullptr;
    bool FreeIt = true;
    ~TFormatRecord() {
        if (FreeIt)
            std::free(Record);
    }
};

// The platform's format bits beyond the four 8000 Hz formats, which it has no bit for.
struct TFormatBit {
    DWORD Bit;
    TPCMFormat Format;
};
constexpr TFormatBit FormatBits[] = {
    {WAVE_FORMAT_1M08, Mono8bit11025Hz},  {WAVE_FORMAT_1S08, Stereo8bit11025Hz},
    {WAVE_FORMAT_1M16, Mono16bit11025Hz}, {WAVE_FORMAT_1S16, Stereo16bit11025Hz},
    {WAVE_FORMAT_2M08, Mono8bit22050Hz},  {WAVE_FORMAT_2S08, Stereo8bit22050Hz},
    {WAVE_FORMAT_2M16, Mono16bit22050Hz}, {WAVE_FORMAT_2S16, Stereo16bit22050Hz},
    {WAVE_FORMAT_4M08, Mono8bit44100Hz},  {WAVE_FORMAT_4S08, Stereo8bit44100Hz},
    {WAVE_FORMAT_4M16, Mono16bit44100Hz}, {WAVE_FORMAT_4S16, Stereo16bit44100Hz},
};

} // namespace

TWaveAudioIn::TWaveAudioIn(TComponent *AOwner) : TWaveAudioIO(AOwner) {}

void TWaveAudioIn::SetPCMFormat(TPCMFormat Value) {
    if (Value == FPCMFormat)
        return;
    if (IsDeviceOpen())
        throw EWaveAudioInvalidOperation("Audio format cannot be changed while device is open");
    FPCMFormat = Value;
}

UINT TWaveAudioIn::GetNumDevs() {
    return waveInGetNumDevs();
}

std::string TWaveAudioIn::GetDeviceName() {
    WAVEINCAPSA Caps{};
    if (waveInGetDevCapsA(FDeviceID, &Caps, sizeof(Caps)) != MMSYSERR_NOERROR)
        return {};
    return std::string(Caps.szPname, strnlen(Caps.szPname, sizeof(Caps.szPname)));
}

TPCMFormats TWaveAudioIn::GetDeviceFormats() {
    TPCMFormats Formats;
    WAVEINCAPSA Caps{};
    if (waveInGetDevCapsA(FDeviceID, &Caps, sizeof(Caps)) != MMSYSERR_NOERROR)
        return Formats;
    for (TPCMFormat Format : {Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz})
        Formats.Include(Format);
    for (const TFormatBit &Entry : FormatBits)
        if (Caps.dwFormats & Entry.Bit)
            Formats.Include(Entry.Format);
    return Formats;
}

DWORD TWaveAudioIn::GetPosition() {
    MMTIME Time{};
    Time.wType = TIME_MS;
    if (waveInGetPosition(FWaveIn, &Time, sizeof(Time)) != MMSYSERR_NOERROR)
        return 0;
    return MMTimeToMS(Time);
}

std::string TWaveAudioIn::GetErrorText(MMRESULT Code) {
    char Text[MAXERRORLENGTH] = {};
    if (waveInGetErrorTextA(Code, Text, sizeof(Text)) != MMSYSERR_NOERROR)
        return {};
    return std::string(Text, strnlen(Text, sizeof(Text)));
}

MMRESULT TWaveAudioIn::ValidateDeviceID(DWORD ID) {
    WAVEINCAPSA Caps{};
    return waveInGetDevCapsA(ID, &Caps, sizeof(Caps));
}

bool TWaveAudioIn::IsFormatSupported(const WAVEFORMATEX *pWaveFormat) {
    return pWaveFormat &&
           waveInOpen(nullptr, FDeviceID, pWaveFormat, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

bool TWaveAudioIn::AddUserBuffer(char *Buffer, DWORD BufferSize, bool FreeIt) {
    if (!Buffer || BufferSize == 0)
        return false;
    auto Guard = Locked();
    PWaveHdr Header = nullptr;
    try {
        if (!ReallocHeader(Header, BufferSize, Buffer))
            return false;
        if (FreeIt)
            Header->dwUser = EngineMark();
        if (QueueHeader(Header))
            return true;
    } catch (...) {
    }
    ReallocHeader(Header, 0);
    return false;
}

void TWaveAudioIn::GetWaveFormat(PWaveFormatEx &pWaveFormat, bool &FreeIt) {
    if (FPCMFormat == nonePCM) {
        if (OnFormat)
            OnFormat(this, pWaveFormat, FreeIt);
        return;
    }
    FreeIt = true;
    pWaveFormat = static_cast<PWaveFormatEx>(std::calloc(1, sizeof(WAVEFORMATEX)));
    if (pWaveFormat)
        PCMFormatToWaveFormat(*pWaveFormat, FPCMFormat);
}

bool TWaveAudioIn::InternalOpen() {
    if (FOpening)
        return false;
    if (FClosing)
        WaitWhileClosing();
    if (GetActive())
        throw EWaveAudioInvalidOperation("Device is aleardy open");
    auto Guard = Locked();
    TFlagScope Opening(FOpening);
    TFormatRecord Format;
    GetWaveFormat(Format.Record, Format.FreeIt);
    // Without a record (nonePCM and no OnFormat handler) the open fails like a
    // rejected format.
    MMRESULT Query = Format.Record
                         ? waveInOpen(nullptr, FDeviceID, Format.Record, 0, 0, WAVE_FORMAT_QUERY)
                         : WAVERR_BADFORMAT;
    if (!CheckResult(Query))
        return false;
    std::memcpy(&FWaveFormat, Format.Record, offsetof(WAVEFORMATEX, cbSize));
    return OpenDevice(*Format.Record);
}

bool TWaveAudioIn::OpenDevice(const WAVEFORMATEX &WaveFormat) {
    CreateCallback();
    FCloseRefused = false;
    try {
        HWAVEIN WaveIn = 0;
        MMRESULT Code = waveInOpen(&WaveIn, FDeviceID, &WaveFormat, FCallback, 0, FCallbackType);
        FWaveIn = Code == MMSYSERR_NOERROR ? WaveIn : 0;
        FLost = false;
        if (CheckResult(Code))
            return true;
    } catch (...) {
    }
    ReleaseCallback();
    return false;
}

void TWaveAudioIn::WimOpen() {
    TWaveAudioIO::WimOpen();
    // A device closed before its opened notification arrived is not started.
    if (GetPaused() || FClosing)
        return;
    // A lost input is no pause: the next open records again.
    FPaused = !CheckDeliveryResult(waveInStart(FWaveIn)) && !FLost;
}

void TWaveAudioIn::QueueBuffers() {
    unsigned Count = BuffersInUse();
    while (Count < FBufferCount && IsDeviceOpen() && !FClosing) {
        PWaveHdr Header = nullptr;
        try {
            if (!ReallocHeader(Header, CalcBufferSize()))
                return;
            if (!QueueHeader(Header)) {
                ReallocHeader(Header, 0);
                return;
            }
        } catch (...) {
            ReallocHeader(Header, 0);
            return;
        }
        ++Count;
    }
}

bool TWaveAudioIn::QueueHeader(PWaveHdr Header) {
    bool WasPrepared = Header->dwFlags & WHDR_PREPARED;
    if (!WasPrepared && !CheckResult(waveInPrepareHeader(FWaveIn, Header, HeaderSize)))
        return false;
    try {
        if (CheckDeliveryResult(waveInAddBuffer(FWaveIn, Header, HeaderSize)))
            return true;
    } catch (...) {
        if (!WasPrepared)
            waveInUnprepareHeader(FWaveIn, Header, HeaderSize);
        throw;
    }
    if (!WasPrepared)
        waveInUnprepareHeader(FWaveIn, Header, HeaderSize);
    return false;
}

void TWaveAudioIn::WimData(PWaveHdr Header) {
    std::exception_ptr Error;
    try {
        HandleReturnedBuffer(Header);
    } catch (...) {
        Error = std::current_exception();
    }
    CloseIfDrained();
    if (Error)
        std::rethrow_exception(Error);
}

// An exception on the way costs the buffer: it is unprepared if need be, released,
// and the exception travels on.
void TWaveAudioIn::HandleReturnedBuffer(PWaveHdr &Header) {
    if (!Header)
        return;
    try {
        if (CheckResult(waveInUnprepareHeader(FWaveIn, Header, HeaderSize)) &&
            Header->dwBytesRecorded > 0)
            DeliverBuffer(*Header);
        if (Requeue(Header))
            return;
        ReallocHeader(Header, 0);
    } catch (...) {
        Unprepare(Header);
        ReallocHeader(Header, 0);
        throw;
    }
}

void TWaveAudioIn::DeliverBuffer(WAVEHDR &Header) {
    InputDelivered();
    bool FreeIt = true;
    DoLevel(Header.lpData, Header.dwBytesRecorded);
    DoRawData(Header.lpData, Header.dwBytesRecorded);
    DoDataReady(Header.lpData, Header.dwBytesRecorded, FreeIt);
    if (!FreeIt)
        Header.dwUser = 0; // the block is the handler's now
}

// The returned header is still counted, so equal to BufferCount keeps the ring as it is.
// A lost device takes no buffer: the first refusal told of the loss.
bool TWaveAudioIn::Requeue(PWaveHdr &Header) {
    return !FClosing && !FLost && BuffersInUse() <= FBufferCount &&
           ReallocHeader(Header, CalcBufferSize()) && QueueHeader(Header);
}

void TWaveAudioIn::Unprepare(PWaveHdr Header) {
    if (Header && (Header->dwFlags & WHDR_PREPARED))
        waveInUnprepareHeader(FWaveIn, Header, HeaderSize);
}

void TWaveAudioIn::CloseIfDrained() {
    if (FClosing && BuffersInUse() == 0)
        CloseDevice();
}

bool TWaveAudioIn::CloseDevice() {
    MMRESULT Code = waveInClose(FWaveIn);
    FCloseRefused = Code != MMSYSERR_NOERROR;
    return CheckResult(Code);
}

void TWaveAudioIn::DoDataReady(const void *, DWORD, bool &) {}

bool TWaveAudioIn::InternalClose() {
    if (FClosing) {
        // A device that refused to close is asked again; otherwise the close runs.
        if (!FCloseRefused || BuffersInUse() != 0)
            return false;
        auto Guard = Locked();
        try {
            return CloseDevice();
        } catch (...) {
            return false;
        }
    }
    if (FOpening)
        WaitWhileOpening();
    if (!GetActive())
        throw EWaveAudioInvalidOperation("Device is aleardy close");
    auto Guard = Locked();
    FClosing = true;
    try {
        return ResetAndClose();
    } catch (...) {
        FClosing = false;
        return false;
    }
}

// With buffers held, the close waits for the last of them to come back (WimData).
bool TWaveAudioIn::ResetAndClose() {
    if (!CheckResult(waveInReset(FWaveIn))) {
        FClosing = false;
        return false;
    }
    if (BuffersInUse() != 0)
        return true;
    return CloseDevice();
}

void TWaveAudioIn::WimClose() {
    FWaveIn = 0;
    TWaveAudioIO::WimClose();
}

bool TWaveAudioIn::InternalPause() {
    if (GetPaused())
        return false;
    auto Guard = Locked();
    if (IsDeviceOpen() && !CheckResult(waveInStop(FWaveIn)))
        return false;
    FPaused = true;
    DoPause();
    return true;
}

bool TWaveAudioIn::InternalResume() {
    if (!GetPaused())
        return false;
    auto Guard = Locked();
    if (IsDeviceOpen() && !CheckResult(waveInStart(FWaveIn)))
        return false;
    FPaused = false;
    DoResume();
    return true;
}
