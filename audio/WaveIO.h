#pragma once

// The device-independent base of the audio engine: the notification target (a hidden
// window of the activating thread, or a thread of its own), the dispatch of device
// notifications under the lock, the buffer headers with their memory blocks, the
// level and raw-data events, result checking, and the waits for an open or close.
//
// In window mode the device is activated, deactivated and freed on one thread, whose
// Qt event loop (or the device's own waits) handles the notifications. The waits for a
// close are bounded: they end when the device refused the close with every buffer
// back (nothing can come any more) or stays silent for seconds; freeing the device
// then gives it up instead of waiting for ever.
//
// Events: in thread mode the callback thread calls the handlers under the lock, so a
// handler is assigned only while the device is inactive, or while holding Lock().
//
// Memory: headers are allocated with std::calloc and blocks with std::malloc /
// std::realloc. A block handed over to a data handler (FreeIt set False) belongs to
// the handler, which frees it with std::free; so does a format record that an
// OnFormat handler supplies with FreeIt left True (the engine frees it with std::free).

#include "audio/WaveUtils.h"
#include "platform/MessageServices.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class TWaveAudioIO;

using TWaveAudioRawDataEvent =
    std::function<void(TObject *Sender, const void *Buffer, DWORD BufferSize)>;

// Handles the notifications of one device on a thread with its own message queue,
// above normal priority; frees itself when its loop ends.
class TWaveThread : public platform::TThread {
public:
    explicit TWaveThread(TWaveAudioIO *ADevice);
    ~TWaveThread() override;

protected:
    void Execute() override;

private:
    TWaveAudioIO *FDevice;
    platform::THandle FReady;
};

class TWaveAudioIO : public TComponent {
public:
    explicit TWaveAudioIO(TComponent *AOwner);

    bool Active() { return GetActive(); }
    virtual void SetActive(bool Value);
    bool Paused() { return GetPaused(); }
    virtual void SetPaused(bool Value);
    // False: notifications and events on the activating thread's event loop (window
    // mode); True: on a thread of the device (thread mode). Ignored while active.
    bool Async() const { return FAsync; }
    void SetAsync(bool Value);
    // Milliseconds per buffer, at least 10; used for every buffer (re)queued afterwards.
    WORD BufferLength() const { return FBufferLength; }
    void SetBufferLength(WORD Value);
    // Buffers kept queued: more take effect at the next activation, fewer as they return.
    WORD BufferCount() const { return FBufferCount; }
    void SetBufferCount(WORD Value) { FBufferCount = Value; }
    DWORD DeviceID() const { return FDeviceID; }
    MMRESULT LastError() const { return FLastError; }
    std::string LastErrorText();
    // The device stopped delivering while active (its sound server or the device itself
    // went away): it stays active but records nothing until it is closed and opened again.
    bool Lost() const { return FLost; }

    // Queries of the device.
    virtual UINT GetNumDevs() = 0;
    virtual std::string GetDeviceName() = 0;
    virtual TPCMFormats GetDeviceFormats() = 0;
    virtual DWORD GetPosition() = 0;
    virtual std::string GetErrorText(MMRESULT Code) = 0;
    virtual MMRESULT ValidateDeviceID(DWORD ID) = 0;
    virtual bool IsFormatSupported(const WAVEFORMATEX *pWaveFormat) = 0;
    virtual bool IsPCMFormatSupported(TPCMFormat PCMFormat);

    WORD BuffersInUse() const;
    DWORD CalcBufferSize() const;
    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

    TWaveAudioEvent OnActivate;
    TWaveAudioEvent OnDeactivate; // silent while the device is being destroyed
    TWaveAudioEvent OnPause;
    TWaveAudioEvent OnResume;
    // A device call failed: LastError and LastErrorText tell why. Without a handler
    // the failure raises EWaveAudioSysError.
    TWaveAudioEvent OnError;
    // The device stopped delivering (Lost() became true): fired on the thread that found
    // out, the notification thread while recording, before the loss is reported.
    TWaveAudioEvent OnLost;           // silent while the device is being destroyed
    TWaveAudioLevelEvent OnLevel;     // silent while the device is being destroyed
    TWaveAudioRawDataEvent OnRawData; // silent while the device is being destroyed

protected:
    ~TWaveAudioIO() override = default;
    // Closes the device and waits for it while the whole object still exists.
    void BeforeDestruction() override;

    // Notification handlers, run under the lock on the notification target's thread.
    virtual void WimOpen();
    virtual void WimClose();
    virtual void WimData(PWaveHdr Header);
    virtual void WomOpen();
    virtual void WomClose();
    virtual void WomDone(PWaveHdr Header);

    virtual bool GetActive() { return FCallback != 0; }
    virtual bool GetPaused() = 0;
    // Supplies the record to open with; FreeIt tells whether it is freed after the open.
    virtual void GetWaveFormat(PWaveFormatEx &pWaveFormat, bool &FreeIt) = 0;
    virtual bool InternalOpen() = 0;
    virtual bool InternalClose() = 0;
    virtual bool InternalPause() = 0;
    virtual bool InternalResume() = 0;
    virtual bool IsDeviceOpen() = 0;
    virtual void QueueBuffers() = 0;
    virtual void ReleaseAllBuffers();
    virtual void DeviceOpened();
    virtual void DeviceClosed();
    virtual void DoActivate();
    virtual void DoDeactivate();
    virtual void DoPause();
    virtual void DoResume();
    virtual void DoError();
    virtual void DoLost();
    virtual void DoLevel(const void *Buffer, DWORD BufferSize);
    virtual void DoRawData(const void *Buffer, DWORD BufferSize);

    void CreateCallback();
    void ReleaseCallback();
    bool CheckResult(MMRESULT Code);
    // CheckResult for the calls that keep the device recording. A refusal with
    // MMSYSERR_NODRIVER means the input is lost: that is reported once, and later
    // refusals stay quiet until the device delivers again.
    bool CheckDeliveryResult(MMRESULT Code);
    // A buffer with audio came back: unless it was on its way when the input went, the
    // input delivers (again), and its next loss is news.
    void InputDelivered() {
        if (!FLost)
            FLossReported = false;
    }
    DWORD MMTimeToMS(const MMTIME &Time) const;
    // Creates (Header nil), resizes or, with BufferSize 0, releases a header and its
    // block; with a caller's Block the header describes that block instead.
    bool ReallocHeader(PWaveHdr &Header, DWORD BufferSize, char *Block = nullptr);
    std::unique_lock<std::recursive_mutex> Locked() {
        return std::unique_lock<std::recursive_mutex>(FLock);
    }
    void WaitWhileOpening();
    void WaitWhileClosing();
    // Whether the header's block is the engine's to reuse and free.
    bool OwnsBlock(const WAVEHDR &Header) const { return Header.dwUser == EngineMark(); }
    DWORD_PTR EngineMark() const { return reinterpret_cast<DWORD_PTR>(this); }

    // What the callback thread and the caller's thread both touch outside the lock is atomic.
    bool FAsync = false;
    DWORD FDeviceID = WAVE_MAPPER;
    std::atomic<MMRESULT> FLastError = 0;
    std::atomic<WORD> FBufferLength = 1000;
    std::atomic<WORD> FBufferCount = 2;
    std::atomic<bool> FOpening = false;
    std::atomic<bool> FClosing = false;
    // The device refused the close: nothing will come back any more.
    std::atomic<bool> FCloseRefused = false;
    std::atomic<bool> FLost = false;
    std::atomic<bool> FLossReported = false;
    std::atomic<DWORD> FCallback = 0;
    DWORD FCallbackType = 0;
    WAVEFORMATEX FWaveFormat{};

private:
    friend class TWaveThread;

    bool DispatchNotification(UINT Code, LPARAM Param);
    void CallbackWndProc(platform::TMessage &Message);
    void HandleNotification(UINT Code, LPARAM Param);
    bool CloseStalled();
    void WaitForNotificationsWhileClosing();
    void WaitForThreadWhileClosing();
    void AbandonDevice();
    void WaitForCallbackThread();

    std::vector<PWaveHdr> FBuffers;
    platform::THandle FThreadReady;
    platform::THandle FThreadHandle;
    std::atomic<DWORD> FThreadId = 0;
    // A callback thread replaced by a re-activation from its own last notification.
    platform::THandle FRetiredThread;
    mutable std::recursive_mutex FLock;
    std::atomic<unsigned> FNotifications = 0;
};
