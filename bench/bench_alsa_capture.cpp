// The ALSA sound input recording 48 000 Hz mono in 200 ms buffers, as the receiver does,
// from a private PulseAudio server for 30 s:
//  - CPU time of the threads that the open device adds to the process (its capture thread
//    and the sound server client's thread), in percent of one core;
//  - delay from the end of a buffer's audio to the handling of its MM_WIM_DATA, against
//    the audio clock: buffer k ends at the start of recording plus (k + 1) x 200 ms.
#include "platform/AlsaWaveIn.h"
#include "platform/MessageServices.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr DWORD BufferBytes = 19200;
constexpr int RecordSeconds = 30;
constexpr int WarmUpSeconds = 5;

// Starts the test suite's private server and points this process at it.
class TPrivateServer {
public:
    TPrivateServer() : FDir("/tmp/zel-bench-pulse-" + std::to_string(getpid())) {
        FStarted = Run("start") == 0;
        if (!FStarted)
            return;
        FILE *Exports = popen((Script() + " env " + FDir).c_str(), "r");
        char Line[1024];
        while (Exports && std::fgets(Line, sizeof Line, Exports)) {
            // export NAME='value'
            std::string Text(Line);
            const auto Equals = Text.find('=');
            const std::string Name = Text.substr(7, Equals - 7);
            const std::string Value = Text.substr(Equals + 2, Text.rfind('\'') - Equals - 2);
            setenv(Name.c_str(), Value.c_str(), 1);
        }
        if (Exports)
            pclose(Exports);
    }
    ~TPrivateServer() {
        Run("stop");
        std::filesystem::remove_all(FDir);
    }
    bool Started() const { return FStarted; }

private:
    static std::string Script() { return std::string("bash ") + ZEL_PULSE_SCRIPT; }
    int Run(const char *Command) {
        return std::system((Script() + " " + Command + " " + FDir).c_str());
    }

    std::string FDir;
    bool FStarted = false;
};

std::set<std::string> Threads() {
    std::set<std::string> Ids;
    for (const auto &Entry : std::filesystem::directory_iterator("/proc/self/task"))
        Ids.insert(Entry.path().filename());
    return Ids;
}

// User plus system time of a thread of this process, in seconds.
double ThreadCpuSeconds(const std::string &Tid) {
    std::ifstream Stat("/proc/self/task/" + Tid + "/stat");
    std::string Text((std::istreambuf_iterator<char>(Stat)), {});
    std::istringstream Fields(Text.substr(Text.rfind(')') + 2));
    std::string Field;
    unsigned long long UserTicks = 0, SystemTicks = 0;
    for (int Index = 3; Index <= 15 && Fields >> Field; ++Index) {
        if (Index == 14)
            UserTicks = std::stoull(Field);
        if (Index == 15)
            SystemTicks = std::stoull(Field);
    }
    return static_cast<double>(UserTicks + SystemTicks) / sysconf(_SC_CLK_TCK);
}

std::string ThreadName(const std::string &Tid) {
    std::ifstream Comm("/proc/self/task/" + Tid + "/comm");
    std::string Name;
    std::getline(Comm, Name);
    return Name;
}

// Receives the notifications on a thread of its own and queues each buffer again.
class TReceiverThread {
public:
    explicit TReceiverThread(platform::IWaveInService &Service) : FService(Service) {
        std::promise<DWORD> Id;
        auto Ready = Id.get_future();
        FThread = std::thread([this, &Id] {
            platform::TMessage Message;
            platform::PeekMessage(Message, false); // creates the queue
            Id.set_value(platform::GetCurrentThreadId());
            while (platform::GetMessage(Message))
                Handle(Message);
        });
        FThreadId = Ready.get();
    }
    ~TReceiverThread() {
        platform::PostThreadMessage(FThreadId, platform::WM_QUIT, 0, 0);
        FThread.join();
    }

    DWORD ThreadId() const { return FThreadId; }
    // A new recording: its handle, and no arrivals yet.
    void Begin(HWAVEIN Handle) {
        std::lock_guard Guard(FLock);
        FHandle = Handle;
        FArrivals.clear();
    }
    std::vector<TClock::time_point> Arrivals() {
        std::lock_guard Guard(FLock);
        return FArrivals;
    }

private:
    void Handle(const platform::TMessage &Message) {
        if (Message.Msg != MM_WIM_DATA)
            return;
        const auto Now = TClock::now();
        auto *Header = reinterpret_cast<WAVEHDR *>(Message.LParam);
        if (Header->dwBytesRecorded == BufferBytes) {
            std::lock_guard Guard(FLock);
            FArrivals.push_back(Now);
        }
        FService.UnprepareHeader(FHandle, Header, sizeof *Header);
        FService.PrepareHeader(FHandle, Header, sizeof *Header);
        FService.AddBuffer(FHandle, Header, sizeof *Header);
    }

    platform::IWaveInService &FService;
    std::thread FThread;
    DWORD FThreadId = 0;
    std::atomic<HWAVEIN> FHandle = 0;
    std::mutex FLock;
    std::vector<TClock::time_point> FArrivals;
};

struct TSession {
    std::map<std::string, double> CpuPercentByThread; // "name_tid"
    std::vector<double> DelaysMs;
};

// Records for Seconds and measures the threads that the open device added.
std::optional<TSession> Record(platform::IWaveInService &Service, TReceiverThread &Receiver,
                               int Seconds) {
    const WAVEFORMATEX Format = {WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};
    std::vector<std::vector<char>> Blocks(2, std::vector<char>(BufferBytes));
    std::vector<WAVEHDR> Headers(2);
    const std::set<std::string> Before = Threads();
    HWAVEIN Handle = 0;
    if (Service.Open(&Handle, WAVE_MAPPER, &Format, Receiver.ThreadId(), 0, CALLBACK_THREAD) !=
        MMSYSERR_NOERROR)
        return std::nullopt;
    Receiver.Begin(Handle);
    std::vector<std::string> Added;
    std::ranges::set_difference(Threads(), Before, std::back_inserter(Added));
    for (std::size_t Index = 0; Index < Headers.size(); ++Index) {
        Headers[Index] = WAVEHDR{Blocks[Index].data(), BufferBytes, 0, 0, 0, 0, nullptr, 0};
        Service.PrepareHeader(Handle, &Headers[Index], sizeof(WAVEHDR));
        Service.AddBuffer(Handle, &Headers[Index], sizeof(WAVEHDR));
    }
    std::map<std::string, double> CpuBefore;
    for (const std::string &Tid : Added)
        CpuBefore[Tid] = ThreadCpuSeconds(Tid);
    const auto Started = TClock::now();
    Service.Start(Handle);
    std::this_thread::sleep_for(std::chrono::seconds(Seconds));
    const double Elapsed = std::chrono::duration<double>(TClock::now() - Started).count();

    TSession Session;
    for (const std::string &Tid : Added)
        Session.CpuPercentByThread[ThreadName(Tid) + "_" + Tid] =
            100 * (ThreadCpuSeconds(Tid) - CpuBefore[Tid]) / Elapsed;
    Service.Reset(Handle);
    while (Service.Close(Handle) == WAVERR_STILLPLAYING)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::vector<TClock::time_point> Arrivals = Receiver.Arrivals();
    for (std::size_t K = 0; K < Arrivals.size(); ++K) {
        const auto AudioEnd = Started + std::chrono::milliseconds(200 * (K + 1));
        Session.DelaysMs.push_back(
            std::chrono::duration<double, std::milli>(Arrivals[K] - AudioEnd).count());
    }
    return Session;
}

void BM_AlsaCapture(benchmark::State &State) {
    TPrivateServer Server;
    if (!Server.Started()) {
        State.SkipWithError("the private sound server did not start");
        return;
    }
    platform::TAlsaWaveInService Service;
    TReceiverThread Receiver(Service);
    // A fresh null sink renders in long blocks until its first recording has started; the
    // warm-up lets the server settle so that the delays measured are the input's own.
    Record(Service, Receiver, WarmUpSeconds);
    for (auto _ : State) {
        std::optional<TSession> Session = Record(Service, Receiver, RecordSeconds);
        if (!Session || Session->DelaysMs.empty()) {
            State.SkipWithError("nothing was recorded");
            return;
        }
        double CaptureCpu = 0;
        for (const auto &[Thread, Percent] : Session->CpuPercentByThread) {
            State.counters["cpu%_" + Thread] = Percent;
            CaptureCpu += Percent;
        }
        State.counters["cpu%_capture_path"] = CaptureCpu;
        const std::vector<double> &Delays = Session->DelaysMs;
        State.counters["buffers"] = static_cast<double>(Delays.size());
        State.counters["delay_ms_min"] = *std::ranges::min_element(Delays);
        State.counters["delay_ms_max"] = *std::ranges::max_element(Delays);
        State.counters["delay_ms_mean"] =
            std::accumulate(Delays.begin(), Delays.end(), 0.0) / static_cast<double>(Delays.size());
    }
}

} // namespace

BENCHMARK(BM_AlsaCapture)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
