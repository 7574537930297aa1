// Steady-state recording on the simulated sound input, delivering as fast as buffers
// are queued, with empty level and data handlers. Reported per buffer:
//  - time: everything (back-end, message services, engine);
//  - backend_ns: the part spent inside the back-end's calls (filling the buffer,
//    posting its notification), so that time - backend_ns is the engine's own cost
//    together with the dispatch of its notification;
//  - allocs: malloc / calloc / realloc / operator new calls of the whole process;
//  - engine_allocs: the same outside the back-end's calls (whose posts allocate the
//    platform's queue entries), which is what the engine itself allocates.

#include "audio/WaveRecorders.h"
#include "platform/SimulatedWaveIn.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

extern "C" void *__libc_malloc(std::size_t);
extern "C" void *__libc_calloc(std::size_t, std::size_t);
extern "C" void *__libc_realloc(void *, std::size_t);

namespace {

std::atomic<std::uint64_t> Allocations{0};
std::atomic<std::uint64_t> EngineAllocations{0};
thread_local int InBackend = 0;

void CountAllocation() {
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (!InBackend)
        EngineAllocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" void *malloc(std::size_t Size) {
    CountAllocation();
    return __libc_malloc(Size);
}
extern "C" void *calloc(std::size_t Count, std::size_t Size) {
    CountAllocation();
    return __libc_calloc(Count, Size);
}
extern "C" void *realloc(void *Block, std::size_t Size) {
    CountAllocation();
    return __libc_realloc(Block, Size);
}
void *operator new(std::size_t Size) {
    if (void *Block = malloc(Size))
        return Block;
    throw std::bad_alloc();
}
void operator delete(void *Block) noexcept {
    free(Block);
}
void operator delete(void *Block, std::size_t) noexcept {
    free(Block);
}

namespace {

std::atomic<std::uint64_t> BackendNanoseconds{0};

// Forwards to the simulated service, timing its calls and keeping their allocations
// apart from the engine's.
class TTimedService final : public platform::IWaveInService {
public:
    explicit TTimedService(platform::IWaveInService &Inner) : FInner(Inner) {}

private:
    template <typename TCall> auto Timed(TCall Call) {
        ++InBackend;
        auto Begin = std::chrono::steady_clock::now();
        auto Result = Call();
        auto Spent = std::chrono::steady_clock::now() - Begin;
        BackendNanoseconds.fetch_add(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Spent).count(),
            std::memory_order_relaxed);
        --InBackend;
        return Result;
    }

public:
    UINT GetNumDevs() override {
        return Timed([&] { return FInner.GetNumDevs(); });
    }
    MMRESULT GetDevCaps(UINT_PTR ID, WAVEINCAPSA *Caps, UINT Size) override {
        return Timed([&] { return FInner.GetDevCaps(ID, Caps, Size); });
    }
    MMRESULT Open(HWAVEIN *WaveIn, UINT ID, const WAVEFORMATEX *Format, DWORD_PTR Callback,
                  DWORD_PTR Instance, DWORD Flags) override {
        return Timed([&] { return FInner.Open(WaveIn, ID, Format, Callback, Instance, Flags); });
    }
    MMRESULT PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT Size) override {
        return Timed([&] { return FInner.PrepareHeader(WaveIn, Header, Size); });
    }
    MMRESULT UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT Size) override {
        return Timed([&] { return FInner.UnprepareHeader(WaveIn, Header, Size); });
    }
    MMRESULT AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT Size) override {
        return Timed([&] { return FInner.AddBuffer(WaveIn, Header, Size); });
    }
    MMRESULT Start(HWAVEIN WaveIn) override {
        return Timed([&] { return FInner.Start(WaveIn); });
    }
    MMRESULT Stop(HWAVEIN WaveIn) override {
        return Timed([&] { return FInner.Stop(WaveIn); });
    }
    MMRESULT Reset(HWAVEIN WaveIn) override {
        return Timed([&] { return FInner.Reset(WaveIn); });
    }
    MMRESULT Close(HWAVEIN WaveIn) override {
        return Timed([&] { return FInner.Close(WaveIn); });
    }
    MMRESULT GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT Size) override {
        return Timed([&] { return FInner.GetPosition(WaveIn, Time, Size); });
    }
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT Size) override {
        return Timed([&] { return FInner.GetErrorText(Code, Text, Size); });
    }

private:
    platform::IWaveInService &FInner;
};

void RecordSteadily(benchmark::State &State, bool Async) {
    platform::TSimulatedWaveInService Simulated;
    TTimedService Service(Simulated);
    platform::IWaveInService *Previous = platform::SetWaveInService(&Service);

    std::atomic<std::uint64_t> Delivered{0};
    auto *Recorder = new TLiveAudioRecorder(nullptr);
    Recorder->SetAsync(Async);
    Recorder->SetBufferCount(2);
    Recorder->SetBufferLength(static_cast<WORD>(State.range(0)));
    Recorder->SetPCMFormat(Mono16bit48000Hz);
    Recorder->OnLevel = [](TObject *, std::int32_t) {};
    Recorder->OnData = [&](TObject *, const void *, DWORD, bool &) {
        Delivered.fetch_add(1, std::memory_order_release);
    };
    Recorder->SetActive(true);

    auto AwaitBuffers = [&](std::uint64_t Target) {
        while (Delivered.load(std::memory_order_acquire) < Target) {
            if (Async)
                std::this_thread::yield();
            else
                QCoreApplication::processEvents();
        }
    };
    AwaitBuffers(100); // past the first allocations of headers, blocks and queues

    std::uint64_t FirstBuffer = Delivered.load();
    std::uint64_t FirstAllocations = Allocations.load();
    std::uint64_t FirstEngineAllocations = EngineAllocations.load();
    std::uint64_t FirstBackendTime = BackendNanoseconds.load();
    std::uint64_t Next = FirstBuffer;
    for (auto _ : State)
        AwaitBuffers(++Next);
    double Buffers = static_cast<double>(Delivered.load() - FirstBuffer);
    State.counters["allocs"] = static_cast<double>(Allocations.load() - FirstAllocations) / Buffers;
    State.counters["engine_allocs"] =
        static_cast<double>(EngineAllocations.load() - FirstEngineAllocations) / Buffers;
    State.counters["backend_ns"] =
        static_cast<double>(BackendNanoseconds.load() - FirstBackendTime) / Buffers;
    State.SetItemsProcessed(static_cast<std::int64_t>(Buffers));

    Simulated.HoldAfter(0);
    Recorder->Free();
    platform::SetWaveInService(Previous);
}

void BM_RecordInWindowMode(benchmark::State &State) {
    RecordSteadily(State, false);
}
void BM_RecordInThreadMode(benchmark::State &State) {
    RecordSteadily(State, true);
}

BENCHMARK(BM_RecordInWindowMode)->Arg(10)->Arg(200)->UseRealTime();
BENCHMARK(BM_RecordInThreadMode)->Arg(10)->Arg(200)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    QCoreApplication Application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
