#pragma once

// Drives a wave-in service the way the engine does and watches what comes back: the
// notifications reach a hidden window of the test's thread, as in window mode.

#include "platform/WaveInService.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

struct TNotification {
    UINT Msg = 0;
    WAVEHDR *Header = nullptr;
    // Copied when the notification is handled, before the buffer is queued again.
    DWORD BytesRecorded = 0;
    DWORD Flags = 0;
    std::chrono::steady_clock::time_point HandledAt;
};

class TNotificationLog {
public:
    TNotificationLog();
    ~TNotificationLog();
    TNotificationLog(const TNotificationLog &) = delete;
    TNotificationLog &operator=(const TNotificationLog &) = delete;

    DWORD Window() const { return FWindow; }
    // The next notification, waiting for it as long as Timeout; nothing after that.
    std::optional<TNotification> Next(std::chrono::milliseconds Timeout = 10s);
    // Waits by running the thread's event loop, as a program does, rather than by
    // taking the window's messages only.
    void WaitInEventLoop(bool Value) { FInEventLoop = Value; }

private:
    bool TakeMessage(std::chrono::milliseconds Left);

    DWORD FWindow;
    bool FInEventLoop = false;
    std::deque<TNotification> FArrived;
};

// The receiver's recording format: mono, 16 bits, 48 000 Hz.
WAVEFORMATEX Mono16bit48000Hz();

// One open device with buffers of its own, as the engine keeps them.
class TRecordingSession {
public:
    static constexpr DWORD ReceiverBufferBytes = 19200; // 200 ms

    TRecordingSession(platform::IWaveInService &Service, std::size_t BufferCount = 2,
                      DWORD BufferBytes = ReceiverBufferBytes);
    // Closes the device if a test left it open, returning its buffers first.
    ~TRecordingSession();
    TRecordingSession(const TRecordingSession &) = delete;
    TRecordingSession &operator=(const TRecordingSession &) = delete;

    // Opens the device (the preferred one by default); the result of the open call.
    MMRESULT Open(UINT DeviceID = WAVE_MAPPER);
    // Prepares and adds every buffer.
    void QueueAll();
    // Unprepares and adds a returned buffer again, as the engine's data path does.
    void Requeue(WAVEHDR *Header);
    // Resets and closes, then waits for the closed notification; false when it never came.
    bool ResetAndClose();

    HWAVEIN Handle() const { return FHandle; }
    WAVEHDR &Header(std::size_t Index) { return FHeaders[Index]; }
    TNotificationLog &Log() { return FLog; }
    // The next data notification, skipping nothing else: fails the test on any other.
    std::optional<TNotification> NextData(std::chrono::milliseconds Timeout = 10s);

private:
    platform::IWaveInService &FService;
    TNotificationLog FLog;
    HWAVEIN FHandle = 0;
    std::vector<std::vector<char>> FBlocks;
    std::vector<WAVEHDR> FHeaders;
};

// Numbers of open file descriptors and threads of this process.
std::size_t OpenFileCount();
std::size_t ThreadCount();
