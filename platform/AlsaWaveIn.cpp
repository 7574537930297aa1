#include "platform/AlsaWaveIn.h"

#include "platform/WakeSignal.h"
#include "platform/WaveInQueue.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {
namespace {

// A period bounds the time from a buffer's last sample to its notification; 100 ms
// keeps that inside a 200 ms buffer while waking the capture path, and every other
// client of a shared source, only 10 times a second. The ring holds five periods, so
// that a capture thread or a buffer that comes back late loses no audio.
constexpr unsigned PeriodMicroseconds = 100000;
constexpr unsigned RingMicroseconds = 500000;
constexpr std::size_t PeriodsPerRead = 4;
// A guard against a PCM that stops signalling: the thread looks at it at least this often.
// It also bounds how late a sound server that went away is noticed.
constexpr int PollGuardMilliseconds = 500;
// How long a close waits for the capture thread: a sound server that stopped answering
// (stopped or hung) holds the thread in ALSA for as long as it does not answer.
constexpr auto CloseWaitLimit = std::chrono::milliseconds(1500);
// How long an open waits for the sound server's answer.
constexpr auto OpenWaitLimit = std::chrono::milliseconds(1500);

constexpr const char *DefaultPcmName = "default";
constexpr const char *DefaultDeviceName = "Default sound input";

void IgnoreAlsaError(const char *, int, const char *, int, const char *, ...) {}

// ALSA prints its errors on the console unless told otherwise; the program prints nothing.
void SilenceAlsa() {
    static std::once_flag Once;
    std::call_once(Once, [] { snd_lib_error_set_handler(IgnoreAlsaError); });
}

struct TPcmCloser {
    void operator()(snd_pcm_t *Pcm) const { snd_pcm_close(Pcm); }
};
using TPcm = std::unique_ptr<snd_pcm_t, TPcmCloser>;

struct TOpenedPcm {
    TPcm Pcm;
    int Error = 0;
};

TOpenedPcm OpenPcmNow(const std::string &Name) {
    snd_pcm_t *Pcm = nullptr;
    // Non-blocking, so that a device another program holds is refused at once, not waited for.
    int Error = snd_pcm_open(&Pcm, Name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    return {TPcm(Error < 0 ? nullptr : Pcm), Error};
}

// An open that a thread of its own runs, so that the caller can stop waiting for it.
struct TPendingOpen {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    bool Abandoned = false;
    TOpenedPcm Result;
};

// An abandoned open still waits: the next ones are refused at once instead of piling up.
std::atomic<bool> OpenHangs = false;

// Opening a sound server's PCM waits for the server's answer, which a stopped or hung
// server never gives: the open is given up after a while, as if there were no input,
// and the PCM that may come later is closed by the thread that waited for it.
TOpenedPcm OpenCapturePcm(const std::string &Name) {
    if (OpenHangs)
        return {nullptr, -ETIMEDOUT};
    auto Pending = std::make_shared<TPendingOpen>();
    try {
        std::thread([Pending, Name] {
            TOpenedPcm Opened = OpenPcmNow(Name);
            std::lock_guard Guard(Pending->Lock);
            Pending->Finished = true;
            if (Pending->Abandoned) {
                OpenHangs = false;
                return;
            }
            Pending->Result = std::move(Opened);
            Pending->Done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return {nullptr, -ENOMEM};
    }
    std::unique_lock Guard(Pending->Lock);
    if (Pending->Done.wait_for(Guard, OpenWaitLimit, [&] { return Pending->Finished; }))
        return std::move(Pending->Result);
    Pending->Abandoned = true;
    OpenHangs = true;
    return {nullptr, -ETIMEDOUT};
}

bool IsBusy(int Error) {
    return Error == -EBUSY || Error == -EAGAIN;
}

MMRESULT OpenFailure(int Error) {
    if (IsBusy(Error))
        return MMSYSERR_ALLOCATED;
    if (Error == -ENOMEM)
        return MMSYSERR_NOMEM;
    // Anything else means there is nothing to record from: no card, no sound server, no PCM.
    return MMSYSERR_NODRIVER;
}

// ---- Devices ----

struct TCaptureDevice {
    std::string PcmName;
    std::string Description;
};

std::string HintValue(void *Hint, const char *Id) {
    char *Value = snd_device_name_get_hint(Hint, Id);
    std::string Result = Value ? Value : "";
    std::free(Value);
    return Result;
}

std::string FirstLine(const std::string &Text) {
    return Text.substr(0, Text.find('\n'));
}

std::vector<TCaptureDevice> ListCaptureDevices() {
    std::vector<TCaptureDevice> Devices;
    void **Hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &Hints) < 0)
        return Devices;
    for (void **Hint = Hints; *Hint; ++Hint) {
        const std::string Direction = HintValue(*Hint, "IOID");
        const std::string Name = HintValue(*Hint, "NAME");
        if ((Direction.empty() || Direction == "Input") && !Name.empty())
            Devices.push_back({Name, FirstLine(HintValue(*Hint, "DESC"))});
    }
    snd_device_name_free_hint(Hints);
    return Devices;
}

std::optional<TCaptureDevice> ResolveDevice(UINT_PTR DeviceID) {
    if (IsWaveMapper(DeviceID))
        return TCaptureDevice{DefaultPcmName, DefaultDeviceName};
    std::vector<TCaptureDevice> Devices = ListCaptureDevices();
    if (DeviceID >= Devices.size())
        return std::nullopt;
    return Devices[DeviceID];
}

// ---- Formats ----

snd_pcm_format_t SampleFormat(WORD BitsPerSample) {
    return BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
}

// Narrows Params to the format; false when the PCM cannot record in it.
bool RestrictToFormat(snd_pcm_t *Pcm, snd_pcm_hw_params_t *Params, WORD BitsPerSample,
                      unsigned Channels, unsigned Rate) {
    return snd_pcm_hw_params_any(Pcm, Params) >= 0 &&
           snd_pcm_hw_params_set_access(Pcm, Params, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
           snd_pcm_hw_params_set_format(Pcm, Params, SampleFormat(BitsPerSample)) >= 0 &&
           snd_pcm_hw_params_set_channels(Pcm, Params, Channels) >= 0 &&
           snd_pcm_hw_params_set_rate(Pcm, Params, Rate, 0) >= 0;
}

bool Accepts(snd_pcm_t *Pcm, const WAVEFORMATEX &Format) {
    snd_pcm_hw_params_t *Params = nullptr;
    snd_pcm_hw_params_alloca(&Params);
    return RestrictToFormat(Pcm, Params, Format.wBitsPerSample, Format.nChannels,
                            Format.nSamplesPerSec);
}

struct TFormatBit {
    DWORD Bit;
    unsigned Rate;
    unsigned Channels;
    WORD BitsPerSample;
};

constexpr TFormatBit FormatBits[] = {
    {WAVE_FORMAT_1M08, 11025, 1, 8},  {WAVE_FORMAT_1S08, 11025, 2, 8},
    {WAVE_FORMAT_1M16, 11025, 1, 16}, {WAVE_FORMAT_1S16, 11025, 2, 16},
    {WAVE_FORMAT_2M08, 22050, 1, 8},  {WAVE_FORMAT_2S08, 22050, 2, 8},
    {WAVE_FORMAT_2M16, 22050, 1, 16}, {WAVE_FORMAT_2S16, 22050, 2, 16},
    {WAVE_FORMAT_4M08, 44100, 1, 8},  {WAVE_FORMAT_4S08, 44100, 2, 8},
    {WAVE_FORMAT_4M16, 44100, 1, 16}, {WAVE_FORMAT_4S16, 44100, 2, 16},
};

DWORD SupportedFormatBits(snd_pcm_t *Pcm) {
    snd_pcm_hw_params_t *Params = nullptr;
    snd_pcm_hw_params_alloca(&Params);
    DWORD Bits = 0;
    for (const TFormatBit &Format : FormatBits)
        if (RestrictToFormat(Pcm, Params, Format.BitsPerSample, Format.Channels, Format.Rate))
            Bits |= Format.Bit;
    return Bits;
}

// The capability record knows mono and stereo only.
WORD MaxChannels(snd_pcm_t *Pcm) {
    snd_pcm_hw_params_t *Params = nullptr;
    snd_pcm_hw_params_alloca(&Params);
    unsigned Channels = 1;
    if (snd_pcm_hw_params_any(Pcm, Params) >= 0)
        snd_pcm_hw_params_get_channels_max(Params, &Channels);
    return static_cast<WORD>(std::clamp(Channels, 1u, 2u));
}

MMRESULT QueryFormat(const std::string &PcmName, const WAVEFORMATEX &Format) {
    TOpenedPcm Opened = OpenCapturePcm(PcmName);
    // The device exists but another program holds it: the open that follows says so.
    if (IsBusy(Opened.Error))
        return MMSYSERR_NOERROR;
    if (!Opened.Pcm)
        return OpenFailure(Opened.Error);
    return Accepts(Opened.Pcm.get(), Format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT ConfigureForRecording(snd_pcm_t *Pcm, const WAVEFORMATEX &Format) {
    snd_pcm_hw_params_t *Params = nullptr;
    snd_pcm_hw_params_alloca(&Params);
    if (!RestrictToFormat(Pcm, Params, Format.wBitsPerSample, Format.nChannels,
                          Format.nSamplesPerSec))
        return WAVERR_BADFORMAT;
    unsigned Period = PeriodMicroseconds;
    unsigned Ring = RingMicroseconds;
    snd_pcm_hw_params_set_period_time_near(Pcm, Params, &Period, nullptr);
    snd_pcm_hw_params_set_buffer_time_near(Pcm, Params, &Ring, nullptr);
    return snd_pcm_hw_params(Pcm, Params) < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

} // namespace

// One open device: the buffers queued by the engine, and the thread that fills them.
// Everything the calls and the thread share is guarded by FLock; the PCM belongs to the
// thread once it runs, and the calls never wait for ALSA, except a close, for a while.
// A stream that can deliver no more (server or device gone, an unrecoverable read or
// start) returns its queued buffers and refuses to record again: it is lost, and only
// closing it and opening the input anew can bring recording back.
class TAlsaCaptureStream {
public:
    TAlsaCaptureStream(TPcm Pcm, const WAVEFORMATEX &Format, TCallbackTarget Target)
        : FPcm(std::move(Pcm)), FFormat(Format), FBuffers(Format, Target),
          FPollFds(1 + std::max(0, snd_pcm_poll_descriptors_count(FPcm.get()))) {
        snd_pcm_uframes_t RingFrames = 0;
        snd_pcm_get_params(FPcm.get(), &RingFrames, &FPeriodFrames);
        FPeriodFrames = std::max<snd_pcm_uframes_t>(FPeriodFrames, 1);
        FChunk.resize(FPeriodFrames * PeriodsPerRead * FFormat.nBlockAlign);
        FThread = std::thread(&TAlsaCaptureStream::Run, this);
    }

    ~TAlsaCaptureStream() {
        {
            std::lock_guard Guard(FLock);
            FClosed = true;
        }
        FWake.Raise();
        if (FThread.joinable())
            FThread.join();
    }

    TAlsaCaptureStream(const TAlsaCaptureStream &) = delete;
    TAlsaCaptureStream &operator=(const TAlsaCaptureStream &) = delete;

    bool Notify(UINT Msg, LPARAM Param) const { return FBuffers.Notify(Msg, Param); }

    MMRESULT Prepare(WAVEHDR &Header) {
        std::lock_guard Guard(FLock);
        return FClosed ? MMSYSERR_INVALHANDLE : FBuffers.Prepare(Header);
    }

    MMRESULT Unprepare(WAVEHDR &Header) {
        std::lock_guard Guard(FLock);
        return FClosed ? MMSYSERR_INVALHANDLE : FBuffers.Unprepare(Header);
    }

    // A faulty buffer is named as such even when the stream is lost.
    MMRESULT Add(WAVEHDR &Header) {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        if (MMRESULT Refused = FBuffers.Check(Header))
            return Refused;
        return FLost ? MMSYSERR_NODRIVER : FBuffers.Add(Header);
    }

    MMRESULT Start() {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        if (FLost)
            return MMSYSERR_NODRIVER;
        if (!FRecording) {
            FRecording = true;
            ++FEpoch;
            FWake.Raise();
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop() {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        FRecording = false;
        // The buffer being filled comes back with what it holds; empty ones wait for a start.
        FBuffers.ReturnPartial();
        FWake.Raise();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        FRecording = false;
        FBuffers.ReturnAll();
        FPosition = 0;
        FWake.Raise();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Position(MMTIME &Time) {
        std::uint64_t Bytes = 0;
        {
            std::lock_guard Guard(FLock);
            if (FClosed)
                return MMSYSERR_INVALHANDLE;
            Bytes = FPosition;
        }
        FBuffers.Express(Bytes, Time);
        return MMSYSERR_NOERROR;
    }

    // Refused while buffers are queued; afterwards the stream takes no more calls.
    MMRESULT BeginClose() {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        if (!FBuffers.Empty())
            return WAVERR_STILLPLAYING;
        FClosed = true;
        FWake.Raise();
        return MMSYSERR_NOERROR;
    }

    // The thread ends and the PCM is closed before the target hears of it, unless ALSA
    // holds the thread for too long: it then finishes on its own, keeping Self alive.
    void FinishClose(std::shared_ptr<TAlsaCaptureStream> Self) {
        std::unique_lock Guard(FLock);
        if (FThreadEnded.wait_for(Guard, CloseWaitLimit, [this] { return FRunEnded; })) {
            Guard.unlock();
            FThread.join();
        } else {
            FKeepAlive = std::move(Self);
            FThread.detach();
            Guard.unlock();
        }
        Notify(MM_WIM_CLOSE, 0);
    }

private:
    struct TCommand {
        bool Quit;
        bool Record;
        unsigned Epoch;
    };

    void Run() {
        for (TCommand Command = TakeCommand(); !Command.Quit; Command = TakeCommand()) {
            FollowCommand(Command);
            if (WaitForAudio())
                ReadAvailable(Command.Epoch);
        }
        snd_pcm_drop(FPcm.get());
        FPcm.reset();
        // A stream given up by its close goes with the last reference, this one.
        std::shared_ptr<TAlsaCaptureStream> KeepAlive;
        {
            std::lock_guard Guard(FLock);
            FRunEnded = true;
            KeepAlive = std::move(FKeepAlive);
        }
        FThreadEnded.notify_all();
    }

    TCommand TakeCommand() {
        std::lock_guard Guard(FLock);
        return {FClosed, FRecording && !FLost, FEpoch};
    }

    // Every queued buffer comes back with what it holds; nothing is recorded any more.
    void GiveUp() {
        FPcmRunning = false;
        std::lock_guard Guard(FLock);
        FLost = true;
        FBuffers.ReturnAll();
    }

    void FollowCommand(const TCommand &Command) {
        snd_pcm_t *Pcm = FPcm.get();
        if (!Command.Record) {
            if (FPcmRunning)
                snd_pcm_drop(Pcm);
            FPcmRunning = false;
            return;
        }
        if (FPcmEpoch == Command.Epoch)
            return;
        // A new start records from now on, not what the PCM still held from before the stop.
        FPcmEpoch = Command.Epoch;
        snd_pcm_drop(Pcm);
        FPcmRunning = snd_pcm_prepare(Pcm) >= 0 && snd_pcm_start(Pcm) >= 0;
        if (!FPcmRunning)
            GiveUp();
    }

    // Blocks until ALSA has audio or a call wants the thread; true when there may be audio.
    bool WaitForAudio() {
        if (!FPcmRunning) {
            Poll(0, -1);
            return false;
        }
        const int PcmFds = snd_pcm_poll_descriptors(FPcm.get(), &FPollFds[1], FPollFds.size() - 1);
        const int Ready = Poll(std::max(PcmFds, 0), PollGuardMilliseconds);
        if (Ready <= 0 || FWoken || PcmFds <= 0)
            return Ready == 0;
        unsigned short Events = 0;
        snd_pcm_poll_descriptors_revents(FPcm.get(), &FPollFds[1], PcmFds, &Events);
        if (Events & (POLLIN | POLLERR))
            return true;
        // Some plugins (PulseAudio's) keep their descriptor readable before a whole period
        // has come: wait out the rest of the period instead of polling again at once.
        Poll(0, MillisecondsToNextPeriod());
        return !FWoken;
    }

    // Polls the wake-up and PcmFds descriptors of the PCM; notes whether a call woke it.
    int Poll(int PcmFds, int TimeoutMs) {
        FPollFds[0] = {FWake.Fd(), POLLIN, 0};
        const int Ready = poll(FPollFds.data(), 1 + PcmFds, TimeoutMs);
        FWoken = Ready > 0 && (FPollFds[0].revents & POLLIN);
        if (FWoken)
            FWake.Clear();
        return Ready;
    }

    int MillisecondsToNextPeriod() {
        const snd_pcm_sframes_t Available = snd_pcm_avail_update(FPcm.get());
        const snd_pcm_sframes_t Missing =
            Available < 0 ? 0 : static_cast<snd_pcm_sframes_t>(FPeriodFrames) - Available;
        const long Milliseconds = (Missing * 1000 + FFormat.nSamplesPerSec - 1) /
                                  static_cast<long>(FFormat.nSamplesPerSec);
        return static_cast<int>(std::clamp<long>(Milliseconds, 1, PollGuardMilliseconds));
    }

    void ReadAvailable(unsigned Epoch) {
        const snd_pcm_uframes_t ChunkFrames = FChunk.size() / FFormat.nBlockAlign;
        for (;;) {
            const snd_pcm_sframes_t Frames = snd_pcm_readi(FPcm.get(), FChunk.data(), ChunkFrames);
            if (Frames == -EAGAIN)
                return;
            if (Frames < 0) {
                Recover(static_cast<int>(Frames));
                return;
            }
            Deliver(FChunk.data(), static_cast<DWORD>(Frames) * FFormat.nBlockAlign, Epoch);
            if (static_cast<snd_pcm_uframes_t>(Frames) < ChunkFrames)
                return;
        }
    }

    // Overruns and suspends lose a little audio but do not end the recording; anything
    // else (the device or the sound server gone) does.
    void Recover(int Error) {
        snd_pcm_t *Pcm = FPcm.get();
        const bool Recovered =
            snd_pcm_recover(Pcm, Error, 1) >= 0 &&
            (snd_pcm_state(Pcm) == SND_PCM_STATE_RUNNING || snd_pcm_start(Pcm) >= 0);
        if (!Recovered)
            GiveUp();
    }

    void Deliver(const char *Data, DWORD Bytes, unsigned Epoch) {
        std::lock_guard Guard(FLock);
        // Audio read before a stop belongs to no buffer.
        if (!FRecording || FEpoch != Epoch)
            return;
        FPosition += Bytes;
        // With no buffer queued the audio is dropped, as the Windows service does.
        FBuffers.Fill(Data, Bytes);
    }

    TPcm FPcm;
    const WAVEFORMATEX FFormat;
    TWakeSignal FWake;

    std::mutex FLock;
    TWaveInQueue FBuffers;
    bool FRecording = false;
    bool FClosed = false;
    bool FLost = false;
    bool FRunEnded = false;
    std::condition_variable FThreadEnded;
    std::shared_ptr<TAlsaCaptureStream> FKeepAlive;
    unsigned FEpoch = 0;
    // Bytes captured while recording since the open or the last reset.
    std::uint64_t FPosition = 0;

    // The capture thread's own.
    std::vector<pollfd> FPollFds;
    std::vector<char> FChunk;
    snd_pcm_uframes_t FPeriodFrames = 0;
    bool FPcmRunning = false;
    bool FWoken = false;
    unsigned FPcmEpoch = 0;
    std::thread FThread;
};

// ALSA's own card search opens thirty-two device names; a card has a control device.
bool HasSoundCard() {
    std::error_code Error;
    for (const auto &Entry : std::filesystem::directory_iterator("/dev/snd", Error))
        if (Entry.path().filename().string().starts_with("controlC"))
            return true;
    return false;
}

TAlsaWaveInService::TAlsaWaveInService() {
    SilenceAlsa();
}

TAlsaWaveInService::~TAlsaWaveInService() = default;

UINT TAlsaWaveInService::GetNumDevs() {
    return static_cast<UINT>(ListCaptureDevices().size());
}

MMRESULT TAlsaWaveInService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    if (!Caps)
        return MMSYSERR_INVALPARAM;
    std::optional<TCaptureDevice> Device = ResolveDevice(DeviceID);
    if (!Device)
        return MMSYSERR_BADDEVICEID;
    TOpenedPcm Opened = OpenCapturePcm(Device->PcmName);
    // The preferred input stands for whatever there is; when there is nothing, it is missing.
    if (IsWaveMapper(DeviceID) && !Opened.Pcm && !IsBusy(Opened.Error))
        return OpenFailure(Opened.Error);
    WAVEINCAPSA Result{};
    CopyDeviceName(Result.szPname, Device->Description);
    Result.wChannels = 1;
    if (Opened.Pcm) {
        Result.dwFormats = SupportedFormatBits(Opened.Pcm.get());
        Result.wChannels = MaxChannels(Opened.Pcm.get());
    }
    std::memcpy(Caps, &Result, std::min<std::size_t>(CapsSize, sizeof Result));
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveInService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                  DWORD_PTR Callback, DWORD_PTR, DWORD Flags) {
    if (MMRESULT Refused = CheckOpenArguments(Format, Flags))
        return Refused;
    std::optional<TCaptureDevice> Device = ResolveDevice(DeviceID);
    if (!Device)
        return MMSYSERR_BADDEVICEID;
    return OpenPcm(WaveIn, Device->PcmName, *Format, Callback, Flags);
}

// Only a PCM that ALSA lists now is opened by its name: a name that is not there is
// missing, like a card that was unplugged.
MMRESULT TAlsaWaveInService::OpenNamed(HWAVEIN *WaveIn, const std::string &Name,
                                       const WAVEFORMATEX *Format, DWORD_PTR Callback, DWORD_PTR,
                                       DWORD Flags) {
    if (MMRESULT Refused = CheckOpenArguments(Format, Flags))
        return Refused;
    const std::vector<TCaptureDevice> Devices = ListCaptureDevices();
    const bool Offered =
        std::any_of(Devices.begin(), Devices.end(),
                    [&](const TCaptureDevice &Device) { return Device.PcmName == Name; });
    return Offered ? OpenPcm(WaveIn, Name, *Format, Callback, Flags) : MMSYSERR_NODRIVER;
}

std::vector<TInputName> TAlsaWaveInService::Inputs() {
    std::vector<TInputName> Names;
    for (const TCaptureDevice &Device : ListCaptureDevices())
        Names.push_back({Device.PcmName, Device.Description});
    return Names;
}

MMRESULT TAlsaWaveInService::OpenPcm(HWAVEIN *WaveIn, const std::string &PcmName,
                                     const WAVEFORMATEX &Format, DWORD_PTR Callback, DWORD Flags) {
    if (Flags & WAVE_FORMAT_QUERY)
        return QueryFormat(PcmName, Format);
    if (!WaveIn)
        return MMSYSERR_INVALPARAM;

    TOpenedPcm Opened = OpenCapturePcm(PcmName);
    if (!Opened.Pcm)
        return OpenFailure(Opened.Error);
    if (MMRESULT Result = ConfigureForRecording(Opened.Pcm.get(), Format))
        return Result;
    std::shared_ptr<TAlsaCaptureStream> Stream;
    try {
        Stream = std::make_shared<TAlsaCaptureStream>(
            std::move(Opened.Pcm), Format, TCallbackTarget{Callback, CallbackType(Flags)});
    } catch (const std::exception &) {
        return MMSYSERR_NOMEM;
    }
    *WaveIn = FStreams.Register(Stream);
    if (!Stream->Notify(MM_WIM_OPEN, 0)) {
        // Nobody would ever hear of this device: it is not opened at all.
        FStreams.Forget(*WaveIn);
        *WaveIn = 0;
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveInService::PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT) {
    return FStreams.CallWithHeader(WaveIn, Header, &TAlsaCaptureStream::Prepare);
}

MMRESULT TAlsaWaveInService::UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT) {
    return FStreams.CallWithHeader(WaveIn, Header, &TAlsaCaptureStream::Unprepare);
}

MMRESULT TAlsaWaveInService::AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT) {
    return FStreams.CallWithHeader(WaveIn, Header, &TAlsaCaptureStream::Add);
}

MMRESULT TAlsaWaveInService::Start(HWAVEIN WaveIn) {
    return FStreams.Call(WaveIn, [](auto &Stream) { return Stream.Start(); });
}

MMRESULT TAlsaWaveInService::Stop(HWAVEIN WaveIn) {
    return FStreams.Call(WaveIn, [](auto &Stream) { return Stream.Stop(); });
}

MMRESULT TAlsaWaveInService::Reset(HWAVEIN WaveIn) {
    return FStreams.Call(WaveIn, [](auto &Stream) { return Stream.Reset(); });
}

MMRESULT TAlsaWaveInService::Close(HWAVEIN WaveIn) {
    std::shared_ptr<TAlsaCaptureStream> Stream;
    if (MMRESULT Result = FStreams.TakeForClose(WaveIn, Stream))
        return Result;
    Stream->FinishClose(Stream);
    return MMSYSERR_NOERROR;
}

MMRESULT TAlsaWaveInService::GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) {
    return FStreams.Call(WaveIn, [&](auto &Stream) {
        return Time && TimeSize >= sizeof(MMTIME) ? Stream.Position(*Time) : MMSYSERR_INVALPARAM;
    });
}

MMRESULT TAlsaWaveInService::GetErrorText(MMRESULT Code, char *Text, UINT TextSize) {
    return CopyErrorText(WaveInErrorTexts(), Code, Text, TextSize);
}

} // namespace platform
