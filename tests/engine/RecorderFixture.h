#pragma once

// A recorder on the simulated sound input, with every event and every exception that
// reaches the application's central handler written to a log.

#include "audio/WaveRecorders.h"
#include "platform/MessageServices.h"
#include "platform/SimulatedWaveIn.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

using TOperation = platform::TSimulatedWaveInService::TOperation;

// 200 ms of Mono16bit48000Hz.
constexpr DWORD BufferBytes = 19200;

// The peak sample of the K-th buffer of the recording: each buffer is louder than
// the one before, so a level tells which buffer it was measured on.
std::int16_t PeakOfBuffer(std::uint64_t K);
std::int32_t LevelOfBuffer(std::uint64_t K);

struct TDataCall {
    DWORD Size;
    std::int32_t PeakLevel; // measured by the test on the delivered bytes
};

struct TCentralError {
    TObject *Sender;
    std::string Class; // "sys", "invalid" or "other"
    std::string Message;
};

class RecorderTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A recorder as the receiver configures it: 2 x 200 ms of Mono16bit48000Hz, with
    // every event logged.
    TLiveAudioRecorder *NewRecorder(bool Async = false);
    void FreeRecorder();

    // Runs the event loop until Condition holds; false after a generous time-out.
    bool WaitFor(const std::function<bool()> &Condition);
    bool WaitUntilInactive();
    // Lets the notifications already on their way be handled.
    void Settle();

    std::vector<std::string> Events();
    std::vector<TDataCall> DataCalls();
    std::vector<TCentralError> CentralErrors();
    std::size_t Count(const std::string &Event);
    void Log(const std::string &Event);
    void ClearLog();

    platform::TSimulatedWaveInService Service;
    TLiveAudioRecorder *Recorder = nullptr;

private:
    platform::IWaveInService *FPreviousService = nullptr;
    platform::TExceptionHandler FPreviousHandler;
    std::mutex FLogLock;
    std::vector<std::string> FEvents;
    std::vector<TDataCall> FDataCalls;
    std::vector<TCentralError> FCentralErrors;
};

// Runs a test in both notification modes.
class RecorderModeTest : public RecorderTest, public testing::WithParamInterface<bool> {
protected:
    bool Async() const { return GetParam(); }
};

std::string ModeName(const testing::TestParamInfo<bool> &Info);

} // namespace enginetest
