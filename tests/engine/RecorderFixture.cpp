#include "RecorderFixture.h"

#include <QCoreApplication>

#include <chrono>
#include <cstring>

namespace enginetest {
namespace {

constexpr auto Patience = std::chrono::seconds(20);

WAVEFORMATEX RecordingFormat() {
    WAVEFORMATEX Format{};
    PCMFormatToWaveFormat(Format, Mono16bit48000Hz);
    return Format;
}

void FillRising(const WAVEFORMATEX &, std::uint64_t Offset, char *Data, DWORD Size) {
    for (DWORD I = 0; I + 1 < Size; I += 2) {
        std::uint64_t Position = Offset + I;
        std::int16_t Peak = PeakOfBuffer(Position / BufferBytes);
        std::int16_t Sample = (Position / 2) % 2 ? static_cast<std::int16_t>(-Peak) : Peak;
        std::memcpy(Data + I, &Sample, 2);
    }
}

std::string ClassOf(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const EWaveAudioSysError &) {
        return "sys";
    } catch (const EWaveAudioInvalidOperation &) {
        return "invalid";
    } catch (...) {
        return "other";
    }
}

std::string MessageOf(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception &E) {
        return E.what();
    } catch (...) {
        return {};
    }
}

} // namespace

std::int16_t PeakOfBuffer(std::uint64_t K) {
    return static_cast<std::int16_t>(1000 + 3000 * (K % 10));
}

std::int32_t LevelOfBuffer(std::uint64_t K) {
    return PeakOfBuffer(K) * 100 / 32767;
}

std::string ModeName(const testing::TestParamInfo<bool> &Info) {
    return Info.param ? "ThreadMode" : "WindowMode";
}

void RecorderTest::SetUp() {
    FPreviousService = platform::SetWaveInService(&Service);
    FPreviousHandler =
        platform::SetExceptionHandler([this](TObject *Sender, std::exception_ptr Error) {
            std::lock_guard<std::mutex> Guard(FLogLock);
            FCentralErrors.push_back({Sender, ClassOf(Error), MessageOf(Error)});
        });
    Service.SetSource(FillRising);
}

void RecorderTest::TearDown() {
    FreeRecorder();
    platform::SetExceptionHandler(FPreviousHandler);
    platform::SetWaveInService(FPreviousService);
}

TLiveAudioRecorder *RecorderTest::NewRecorder(bool Async) {
    Recorder = new TLiveAudioRecorder(nullptr);
    Recorder->SetAsync(Async);
    Recorder->SetBufferCount(2);
    Recorder->SetBufferLength(200);
    Recorder->SetPCMFormat(Mono16bit48000Hz);
    auto Check = [this, Self = Recorder](TObject *Sender, const std::string &Event) {
        Log(Sender == Self ? Event : "WrongSender:" + Event);
    };
    Recorder->OnActivate = [Check](TObject *Sender) { Check(Sender, "Activate"); };
    Recorder->OnDeactivate = [Check](TObject *Sender) { Check(Sender, "Deactivate"); };
    Recorder->OnPause = [Check](TObject *Sender) { Check(Sender, "Pause"); };
    Recorder->OnResume = [Check](TObject *Sender) { Check(Sender, "Resume"); };
    Recorder->OnLevel = [Check](TObject *Sender, std::int32_t Level) {
        Check(Sender, "Level:" + std::to_string(Level));
    };
    Recorder->OnRawData = [Check](TObject *Sender, const void *, DWORD Size) {
        Check(Sender, "RawData:" + std::to_string(Size));
    };
    Recorder->OnData = [this, Check](TObject *Sender, const void *Buffer, DWORD Size, bool &) {
        Check(Sender, "Data:" + std::to_string(Size));
        std::lock_guard<std::mutex> Guard(FLogLock);
        FDataCalls.push_back({Size, WavePeakLevel(Buffer, Size, RecordingFormat())});
    };
    return Recorder;
}

void RecorderTest::FreeRecorder() {
    FreeAndNil(Recorder);
}

bool RecorderTest::WaitFor(const std::function<bool()> &Condition) {
    auto Deadline = std::chrono::steady_clock::now() + Patience;
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool RecorderTest::WaitUntilInactive() {
    return WaitFor([this] { return !Recorder->Active(); });
}

void RecorderTest::Settle() {
    for (int I = 0; I < 20; ++I)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::vector<std::string> RecorderTest::Events() {
    std::lock_guard<std::mutex> Guard(FLogLock);
    return FEvents;
}

std::vector<TDataCall> RecorderTest::DataCalls() {
    std::lock_guard<std::mutex> Guard(FLogLock);
    return FDataCalls;
}

std::vector<TCentralError> RecorderTest::CentralErrors() {
    std::lock_guard<std::mutex> Guard(FLogLock);
    return FCentralErrors;
}

std::size_t RecorderTest::Count(const std::string &Event) {
    std::lock_guard<std::mutex> Guard(FLogLock);
    return std::count(FEvents.begin(), FEvents.end(), Event);
}

void RecorderTest::Log(const std::string &Event) {
    std::lock_guard<std::mutex> Guard(FLogLock);
    FEvents.push_back(Event);
}

void RecorderTest::ClearLog() {
    std::lock_guard<std::mutex> Guard(FLogLock);
    FEvents.clear();
    FDataCalls.clear();
    FCentralErrors.clear();
}

} // namespace enginetest
