#pragma once

// A sound input that exists only in memory, with the guarantees of WaveInService.h:
// for tests, benchmarks and tools that must not touch the machine's sound set-up.
// Devices, the formats they accept, where the samples come from, how fast buffers
// fill and which call fails are all configurable; counters tell what was asked.
//
// Delivery:
//  - AsFastAsQueued (the default, deterministic): while a device is started, every
//    queued buffer is filled and returned at once, when it is added or on Start;
//  - RealTime: a thread of the service fills the head buffer at the format's byte
//    rate and returns it when full.
// HoldAfter(N) lets only N more bytes be recorded (all devices together), so that a
// buffer can be left partly filled for Stop or Reset to return.

#include "platform/WaveInService.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class TSimulatedWaveInService final : public IWaveInService {
public:
    enum class TOperation {
        GetNumDevs,
        GetDevCaps,
        Query, // Open with WAVE_FORMAT_QUERY
        Open,
        PrepareHeader,
        UnprepareHeader,
        AddBuffer,
        Start,
        Stop,
        Reset,
        Close,
        GetPosition,
        GetErrorText,
    };
    static constexpr std::size_t OperationCount =
        static_cast<std::size_t>(TOperation::GetErrorText) + 1;

    enum class TDelivery { AsFastAsQueued, RealTime };

    enum class TPresence {
        Available,
        Busy,   // answers queries, but opening fails with MMSYSERR_ALLOCATED
        Absent, // every query fails with AbsentCode
    };

    struct TDevice {
        std::string Name = "Simulated input"; // its description
        std::string Lasting;                  // its lasting name; empty: Name
        DWORD FormatBits = 0xFFF;
        // Accepted formats; empty accepts every 8- or 16-bit PCM format of 1 or 2 channels.
        std::vector<WAVEFORMATEX> Formats;
        TPresence Presence = TPresence::Available;
        MMRESULT AbsentCode = MMSYSERR_BADDEVICEID;
    };

    // Writes Size bytes of the recording (in Format) that begin Offset bytes into it.
    using TSampleSource = std::function<void(const WAVEFORMATEX &Format, std::uint64_t Offset,
                                             char *Data, DWORD Size)>;

    // Starts with one available device that accepts every PCM format, recording silence.
    TSimulatedWaveInService();
    ~TSimulatedWaveInService() override;

    // Configuration. Device identifiers are the indexes; WAVE_MAPPER is device 0.
    void SetDevices(std::vector<TDevice> Devices);
    void SetDelivery(TDelivery Delivery);
    void SetSource(TSampleSource Source);
    // Records these bytes over and over.
    void SetSamples(std::vector<char> Samples);
    // Records the format's zero line.
    void SetSilence();
    void HoldAfter(std::uint64_t Bytes);
    void ReleaseHold();

    // After Skip more calls, the next call of Operation (or every call, with Always)
    // returns Code and does nothing.
    void InjectFailure(TOperation Operation, MMRESULT Code, bool Always = false, int Skip = 0);
    void ClearFailures();

    // Counters.
    int Calls(TOperation Operation) const;
    int QueuedBuffers() const;
    int OpenDevices() const;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) override;
    MMRESULT Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format, DWORD_PTR Callback,
                  DWORD_PTR Instance, DWORD Flags) override;
    MMRESULT PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT Start(HWAVEIN WaveIn) override;
    MMRESULT Stop(HWAVEIN WaveIn) override;
    MMRESULT Reset(HWAVEIN WaveIn) override;
    MMRESULT Close(HWAVEIN WaveIn) override;
    MMRESULT GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) override;
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) override;
    std::vector<TInputName> Inputs() override;

private:
    struct TStream {
        WAVEFORMATEX Format{};
        DWORD_PTR Callback = 0;
        DWORD CallbackType = 0;
        std::deque<WAVEHDR *> Queue;
        bool Started = false;
        std::uint64_t Recorded = 0;     // bytes since the open
        std::uint64_t RealTimeDone = 0; // RealTime: bytes taken since the start
        std::chrono::steady_clock::time_point StartedAt;
    };
    struct TFailure {
        MMRESULT Code;
        bool Always;
        int Skip;
    };
    using TGuard = std::unique_lock<std::mutex>;

    std::optional<MMRESULT> Enter(TOperation Operation);
    const TDevice *FindDevice(UINT_PTR DeviceID) const;
    MMRESULT DeviceState(UINT_PTR DeviceID) const;
    bool Accepts(const TDevice &Device, const WAVEFORMATEX &Format) const;
    TStream *FindStream(HWAVEIN WaveIn);
    // Runs a call on an open stream, under the lock and after any injected failure.
    template <typename TAction>
    MMRESULT OnStream(TOperation Operation, HWAVEIN WaveIn, TAction Action);

    void Post(const TStream &Stream, UINT Msg, LPARAM Param) const;
    std::uint64_t Record(TStream &Stream, std::uint64_t Bytes);
    void ReturnHead(TStream &Stream);
    void RecordAsFastAsQueued(TStream &Stream);
    void RunClock();
    void Tick(TStream &Stream, std::chrono::steady_clock::time_point Now);

    mutable std::mutex FMutex;
    std::vector<TDevice> FDevices;
    TDelivery FDelivery = TDelivery::AsFastAsQueued;
    TSampleSource FSource;
    std::optional<std::uint64_t> FHold;
    std::map<TOperation, TFailure> FFailures;
    int FCalls[OperationCount] = {};
    std::map<HWAVEIN, TStream> FStreams;
    HWAVEIN FNextHandle = 1;

    std::condition_variable FWake;
    bool FStopping = false;
    std::thread FClock;
};

} // namespace platform
