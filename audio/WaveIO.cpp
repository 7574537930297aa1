#include "audio/WaveIO.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// How long a closing device may stay silent before the wait for it gives up: the
// device is then taken as broken, so that neither a later open nor the destruction
// waits for ever.
constexpr DWORD CloseSilenceLimitMs = 5000;
// Thread mode: how often the closing wait looks whether anything can still come.
constexpr DWORD ClosePollMs = 20;

// A lost input in our own words: the platform's text for the code speaks of a missing one.
constexpr const char *LostInputText = "The sound input was lost.";

bool IsNotification(UINT Code) {
    switch (Code) {
    case MM_WOM_OPEN:
    case MM_WOM_CLOSE:
    case MM_WOM_DONE:
    case MM_WIM_OPEN:
    case MM_WIM_CLOSE:
    case MM_WIM_DATA:
        return true;
    default:
        return false;
    }
}

} // namespace

TWaveThread::TWaveThread(TWaveAudioIO *ADevice)
    : FDevice(ADevice), FReady(platform::CreateEvent(true, false)) {
    FDevice->FThreadHandle = Handle();
    FDevice->FThreadId = ThreadID();
    FDevice->FThreadReady = FReady;
    SetFreeOnTerminate(true);
    SetPriority(TThreadPriority::tpHigher);
    Resume();
}

TWaveThread::~TWaveThread() = default;

// The loop touches the device only through DispatchNotification, so the device only
// has to outlive the thread's last notification; its destruction waits for the end.
void TWaveThread::Execute() {
    platform::TMessage Message;
    platform::PeekMessage(Message, false); // creates this thread's queue
    platform::SetEvent(FReady);
    while (platform::GetMessage(Message))
        FDevice->DispatchNotification(Message.Msg, Message.LParam);
    platform::ResetEvent(FReady);
}

TWaveAudioIO::TWaveAudioIO(TComponent *AOwner) : TComponent(AOwner) {}

void TWaveAudioIO::BeforeDestruction() {
    try {
        SetActive(false);
        WaitWhileClosing();
        if (GetActive())
            AbandonDevice();
        WaitForCallbackThread();
    } catch (...) {
        platform::HandleException(this);
    }
    TComponent::BeforeDestruction();
}

void TWaveAudioIO::SetActive(bool Value) {
    if (Value == GetActive())
        return;
    if (Value)
        InternalOpen();
    else
        InternalClose();
}

void TWaveAudioIO::SetPaused(bool Value) {
    if (Value == GetPaused())
        return;
    if (Value)
        InternalPause();
    else
        InternalResume();
}

void TWaveAudioIO::SetAsync(bool Value) {
    if (!GetActive())
        FAsync = Value;
}

void TWaveAudioIO::SetBufferLength(WORD Value) {
    FBufferLength = std::max<WORD>(Value, 10);
}

bool TWaveAudioIO::IsPCMFormatSupported(TPCMFormat PCMFormat) {
    if (PCMFormat == nonePCM)
        return false;
    WAVEFORMATEX WaveFormat{};
    PCMFormatToWaveFormat(WaveFormat, PCMFormat);
    return IsFormatSupported(&WaveFormat);
}

WORD TWaveAudioIO::BuffersInUse() const {
    std::lock_guard<std::recursive_mutex> Guard(FLock);
    return static_cast<WORD>(FBuffers.size());
}

DWORD TWaveAudioIO::CalcBufferSize() const {
    return WaveBufferSizeForDuration(FWaveFormat, FBufferLength);
}

void TWaveAudioIO::WimOpen() {
    DeviceOpened();
}
void TWaveAudioIO::WimClose() {
    DeviceClosed();
}
void TWaveAudioIO::WimData(PWaveHdr) {}
void TWaveAudioIO::WomOpen() {
    DeviceOpened();
}
void TWaveAudioIO::WomClose() {
    DeviceClosed();
}
void TWaveAudioIO::WomDone(PWaveHdr) {}

void TWaveAudioIO::ReleaseAllBuffers() {
    while (!FBuffers.empty()) {
        PWaveHdr Header = FBuffers.back();
        ReallocHeader(Header, 0);
    }
}

void TWaveAudioIO::DeviceOpened() {
    FOpening = false;
    QueueBuffers();
    DoActivate();
}

// An exception from the level handler must not leave the device half closed: the
// closing steps run regardless and the exception travels on afterwards.
void TWaveAudioIO::DeviceClosed() {
    std::exception_ptr Error;
    try {
        DoLevel(nullptr, 0);
    } catch (...) {
        Error = std::current_exception();
    }
    FClosing = false;
    ReleaseCallback();
    ReleaseAllBuffers();
    if (Error)
        std::rethrow_exception(Error);
    DoDeactivate();
}

void TWaveAudioIO::DoActivate() {
    if (OnActivate)
        OnActivate(this);
}

void TWaveAudioIO::DoDeactivate() {
    if (OnDeactivate && !Destroying())
        OnDeactivate(this);
}

void TWaveAudioIO::DoPause() {
    if (OnPause)
        OnPause(this);
}

void TWaveAudioIO::DoResume() {
    if (OnResume)
        OnResume(this);
}

void TWaveAudioIO::DoError() {
    if (OnError) {
        OnError(this);
        return;
    }
    throw EWaveAudioSysError(LastErrorText());
}

void TWaveAudioIO::DoLost() {
    if (OnLost && !Destroying())
        OnLost(this);
}

std::string TWaveAudioIO::LastErrorText() {
    const MMRESULT Code = FLastError;
    return FLost && Code == MMSYSERR_NODRIVER ? LostInputText : GetErrorText(Code);
}

void TWaveAudioIO::DoLevel(const void *Buffer, DWORD BufferSize) {
    if (OnLevel && !Destroying() && FWaveFormat.wFormatTag == WAVE_FORMAT_PCM)
        OnLevel(this, WavePeakLevel(Buffer, BufferSize, FWaveFormat));
}

void TWaveAudioIO::DoRawData(const void *Buffer, DWORD BufferSize) {
    if (OnRawData && !Destroying())
        OnRawData(this, Buffer, BufferSize);
}

void TWaveAudioIO::CreateCallback() {
    if (FAsync) {
        // A thread of an earlier activation may still be finishing its last message;
        // when that message is this very re-activation, it is waited for later instead.
        if (FThreadHandle && FThreadId == platform::GetCurrentThreadId())
            FRetiredThread = std::exchange(FThreadHandle, nullptr);
        else
            WaitForCallbackThread();
        FCallbackType = CALLBACK_THREAD;
        auto *Thread = new TWaveThread(this);
        FCallback = Thread->ThreadID();
        platform::WaitForHandleWithMessages(FThreadReady, INFINITE);
    } else {
        FCallbackType = CALLBACK_WINDOW;
        FCallback = platform::AllocateHWnd(
            [this](platform::TMessage &Message) { CallbackWndProc(Message); });
    }
}

void TWaveAudioIO::ReleaseCallback() {
    DWORD Callback = FCallback;
    if (Callback == 0)
        return;
    if (FCallbackType == CALLBACK_THREAD) {
        // Refused only until the new thread has its queue.
        while (!platform::PostThreadMessage(Callback, platform::WM_QUIT, 0, 0))
            std::this_thread::yield();
    } else {
        platform::DeallocateHWnd(Callback);
    }
    FCallback = 0;
}

void TWaveAudioIO::CallbackWndProc(platform::TMessage &Message) {
    if (!DispatchNotification(Message.Msg, Message.LParam))
        Message.Result = 0;
}

bool TWaveAudioIO::DispatchNotification(UINT Code, LPARAM Param) {
    if (!IsNotification(Code))
        return false;
    std::exception_ptr Error;
    {
        std::lock_guard<std::recursive_mutex> Guard(FLock);
        try {
            HandleNotification(Code, Param);
        } catch (...) {
            Error = std::current_exception();
        }
        ++FNotifications;
    }
    if (Error)
        platform::HandleException(this, Error);
    return true;
}

void TWaveAudioIO::HandleNotification(UINT Code, LPARAM Param) {
    PWaveHdr Header = reinterpret_cast<PWaveHdr>(Param);
    switch (Code) {
    case MM_WOM_OPEN:
        return WomOpen();
    case MM_WOM_CLOSE:
        return WomClose();
    case MM_WOM_DONE:
        return WomDone(Header);
    case MM_WIM_OPEN:
        return WimOpen();
    case MM_WIM_CLOSE:
        return WimClose();
    case MM_WIM_DATA:
        return WimData(Header);
    }
}

bool TWaveAudioIO::CheckDeliveryResult(MMRESULT Code) {
    if (Code == MMSYSERR_NODRIVER) {
        if (!FLost.exchange(true))
            DoLost();
        if (FLossReported.exchange(true)) {
            FLastError = Code;
            return false;
        }
    }
    return CheckResult(Code);
}

bool TWaveAudioIO::CheckResult(MMRESULT Code) {
    FLastError = Code;
    if (Code == MMSYSERR_NOERROR)
        return true;
    DoError();
    return false;
}

DWORD TWaveAudioIO::MMTimeToMS(const MMTIME &Time) const {
    auto Scaled = [](DWORD Value, DWORD PerSecond) -> DWORD {
        if (PerSecond == 0)
            return 0;
        return static_cast<DWORD>(
            MulDiv(1000, static_cast<int>(Value), static_cast<int>(PerSecond)));
    };
    switch (Time.wType) {
    case TIME_MS:
        return Time.u.ms;
    case TIME_SAMPLES:
        return Scaled(Time.u.sample, FWaveFormat.nSamplesPerSec);
    case TIME_BYTES:
        return Scaled(Time.u.cb, FWaveFormat.nAvgBytesPerSec);
    case TIME_SMPTE:
        return (Time.u.smpte.hour * 3600u + Time.u.smpte.min * 60u + Time.u.smpte.sec) * 1000u;
    default:
        return 0;
    }
}

bool TWaveAudioIO::ReallocHeader(PWaveHdr &Header, DWORD BufferSize, char *Block) {
    if (BufferSize == 0) {
        if (!Header)
            return true;
        FBuffers.erase(std::remove(FBuffers.begin(), FBuffers.end(), Header), FBuffers.end());
        if (OwnsBlock(*Header))
            std::free(Header->lpData);
        std::free(Header);
        Header = nullptr;
        return true;
    }
    if (!Header) {
        Header = static_cast<PWaveHdr>(std::calloc(1, sizeof(WAVEHDR)));
        if (!Header)
            return CheckResult(MMSYSERR_NOMEM);
        FBuffers.push_back(Header);
    }
    if (!OwnsBlock(*Header)) {
        Header->lpData = nullptr;
        Header->dwBufferLength = 0;
    }
    char *Data = Block;
    if (!Block) {
        Data = Header->lpData;
        if (Header->dwBufferLength != BufferSize || !Data) {
            Data = static_cast<char *>(std::realloc(Data, BufferSize));
            if (!Data) {
                ReallocHeader(Header, 0);
                return CheckResult(MMSYSERR_NOMEM);
            }
        }
    } else if (OwnsBlock(*Header)) {
        std::free(Header->lpData);
    }
    *Header = WAVEHDR{};
    Header->dwUser = Block ? 0 : EngineMark();
    Header->lpData = Data;
    Header->dwBufferLength = BufferSize;
    return true;
}

void TWaveAudioIO::WaitWhileOpening() {
    if (FCallback == 0 || !FOpening)
        return;
    if (FCallbackType == CALLBACK_THREAD) {
        // An open running on another thread holds the lock until it is done.
        std::lock_guard<std::recursive_mutex> Guard(FLock);
        return;
    }
    // Window mode: the open runs on this very thread, further up the stack; only what
    // is queued already can be handled before it returns.
    while (FOpening && FCallback != 0 && platform::PumpWindowMessage(FCallback, 0)) {
    }
}

void TWaveAudioIO::WaitWhileClosing() {
    if (FCallback == 0)
        return;
    if (FCallbackType == CALLBACK_THREAD)
        WaitForThreadWhileClosing();
    else
        WaitForNotificationsWhileClosing();
}

// Nothing can come back any more once the device refused the close with no buffer
// held: the wait would last for ever.
bool TWaveAudioIO::CloseStalled() {
    return FCloseRefused && BuffersInUse() == 0;
}

void TWaveAudioIO::WaitForNotificationsWhileClosing() {
    while (FClosing && FCallback != 0 && !CloseStalled())
        if (!platform::PumpWindowMessage(FCallback, CloseSilenceLimitMs))
            return;
}

void TWaveAudioIO::WaitForThreadWhileClosing() {
    platform::THandle Thread = FThreadHandle;
    unsigned Seen = FNotifications;
    auto LastProgress = std::chrono::steady_clock::now();
    while (FClosing && !CloseStalled()) {
        if (platform::WaitForHandleWithMessages(Thread, ClosePollMs) == WAIT_OBJECT_0)
            return;
        auto Now = std::chrono::steady_clock::now();
        if (FNotifications != Seen) {
            Seen = FNotifications;
            LastProgress = Now;
        } else if (Now - LastProgress > std::chrono::milliseconds(CloseSilenceLimitMs)) {
            return;
        }
    }
}

// The destruction gives up a device that would not close: the notification target
// goes, and so do the buffers, unless a device that refused its reset may still fill
// them; those are left to it rather than freed under its feet.
void TWaveAudioIO::AbandonDevice() {
    std::lock_guard<std::recursive_mutex> Guard(FLock);
    ReleaseCallback();
    if (!IsDeviceOpen() || FCloseRefused)
        ReleaseAllBuffers();
    else
        FBuffers.clear();
}

void TWaveAudioIO::WaitForCallbackThread() {
    for (platform::THandle *Thread : {&FRetiredThread, &FThreadHandle}) {
        if (!*Thread)
            continue;
        // A WM_QUIT for this thread ends the wait early; the thread must still be waited for.
        while (platform::WaitForHandleWithMessages(*Thread, INFINITE) == WAIT_OBJECT_0 + 1) {
        }
        Thread->reset();
    }
    FThreadReady.reset();
}
