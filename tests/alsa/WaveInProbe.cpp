#include "WaveInProbe.h"

#include "platform/MessageServices.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <filesystem>

TNotificationLog::TNotificationLog()
    : FWindow(platform::AllocateHWnd([this](platform::TMessage &Message) {
          auto *Header = reinterpret_cast<WAVEHDR *>(Message.LParam);
          FArrived.push_back({Message.Msg, Header, Header ? Header->dwBytesRecorded : 0,
                              Header ? Header->dwFlags : 0, std::chrono::steady_clock::now()});
      })) {}

TNotificationLog::~TNotificationLog() {
    platform::DeallocateHWnd(FWindow);
}

std::optional<TNotification> TNotificationLog::Next(std::chrono::milliseconds Timeout) {
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    while (FArrived.empty()) {
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
            Deadline - std::chrono::steady_clock::now());
        if (Left.count() <= 0 || !TakeMessage(Left))
            return std::nullopt;
    }
    TNotification Notification = FArrived.front();
    FArrived.pop_front();
    return Notification;
}

bool TNotificationLog::TakeMessage(std::chrono::milliseconds Left) {
    if (!FInEventLoop)
        return platform::PumpWindowMessage(FWindow, Left.count());
    QEventLoop Loop;
    QTimer::singleShot(Left, &Loop, &QEventLoop::quit);
    Loop.processEvents(QEventLoop::WaitForMoreEvents);
    return true;
}

WAVEFORMATEX Mono16bit48000Hz() {
    return {WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};
}

TRecordingSession::TRecordingSession(platform::IWaveInService &Service, std::size_t BufferCount,
                                     DWORD BufferBytes)
    : FService(Service), FBlocks(BufferCount, std::vector<char>(BufferBytes)),
      FHeaders(BufferCount) {
    for (std::size_t Index = 0; Index < BufferCount; ++Index) {
        FHeaders[Index].lpData = FBlocks[Index].data();
        FHeaders[Index].dwBufferLength = BufferBytes;
    }
}

TRecordingSession::~TRecordingSession() {
    if (FHandle)
        ResetAndClose();
}

MMRESULT TRecordingSession::Open(UINT DeviceID) {
    const WAVEFORMATEX Format = Mono16bit48000Hz();
    MMRESULT Result = FService.Open(&FHandle, DeviceID, &Format, FLog.Window(), 0, CALLBACK_WINDOW);
    if (Result == MMSYSERR_NOERROR) {
        std::optional<TNotification> Opened = FLog.Next();
        EXPECT_TRUE(Opened && Opened->Msg == MM_WIM_OPEN);
    }
    return Result;
}

void TRecordingSession::QueueAll() {
    for (WAVEHDR &Header : FHeaders) {
        ASSERT_EQ(FService.PrepareHeader(FHandle, &Header, sizeof Header), MMSYSERR_NOERROR);
        ASSERT_EQ(FService.AddBuffer(FHandle, &Header, sizeof Header), MMSYSERR_NOERROR);
    }
}

void TRecordingSession::Requeue(WAVEHDR *Header) {
    ASSERT_EQ(FService.UnprepareHeader(FHandle, Header, sizeof *Header), MMSYSERR_NOERROR);
    ASSERT_EQ(FService.PrepareHeader(FHandle, Header, sizeof *Header), MMSYSERR_NOERROR);
    ASSERT_EQ(FService.AddBuffer(FHandle, Header, sizeof *Header), MMSYSERR_NOERROR);
}

bool TRecordingSession::ResetAndClose() {
    FService.Reset(FHandle);
    if (FService.Close(FHandle) != MMSYSERR_NOERROR)
        return false;
    FHandle = 0;
    for (std::optional<TNotification> Next = FLog.Next(); Next; Next = FLog.Next())
        if (Next->Msg == MM_WIM_CLOSE)
            return true;
    return false;
}

std::optional<TNotification> TRecordingSession::NextData(std::chrono::milliseconds Timeout) {
    std::optional<TNotification> Next = FLog.Next(Timeout);
    EXPECT_TRUE(!Next || Next->Msg == MM_WIM_DATA) << Next->Msg;
    return Next;
}

namespace {
std::size_t EntryCount(const char *Folder) {
    std::size_t Count = 0;
    for ([[maybe_unused]] const auto &Entry : std::filesystem::directory_iterator(Folder))
        ++Count;
    return Count;
}
} // namespace

std::size_t OpenFileCount() {
    return EntryCount("/proc/self/fd");
}
std::size_t ThreadCount() {
    return EntryCount("/proc/self/task");
}
