// An ALSA capture PCM for the tests that behaves like a sound card's own device, without
// one: it records silence at the pace of the clock, only one opener can hold it at a time
// (a second open fails with EBUSY until the first one closes), and it can be told to
// overrun once, some time after each start, as a device does whose reader fell behind.
// The hold is an exclusive lock on the file named by the configuration's "lock" field, so
// it is honest across processes as well; "overrun_ms" sets the overrun. While the file
// named by "removed" exists, the device is unplugged: reads fail with ENODEV, as a pulled
// out USB sound card's do, and opening it fails; once the file is gone, it is back.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

struct TTestPcm {
    snd_pcm_ioplug_t IoPlug{};
    int LockFd = -1;
    int TimerFd = -1;
    long OverrunMs = 0;      // 0: never
    std::string RemovedPath; // the configuration's own text goes once the PCM is open
    bool OverrunDue = false;
    TClock::time_point Started;
};

TTestPcm &Of(snd_pcm_ioplug_t *IoPlug) {
    return *static_cast<TTestPcm *>(IoPlug->private_data);
}

bool Removed(const std::string &RemovedPath) {
    return !RemovedPath.empty() && access(RemovedPath.c_str(), F_OK) == 0;
}

// Wakes the reader once a period.
void ArmTimer(TTestPcm &Pcm, snd_pcm_uframes_t PeriodFrames) {
    const long PeriodNs = static_cast<long>(PeriodFrames * 1000000000ull / Pcm.IoPlug.rate);
    itimerspec Timer{};
    Timer.it_interval = {PeriodNs / 1000000000, PeriodNs % 1000000000};
    Timer.it_value = Timer.it_interval;
    timerfd_settime(Pcm.TimerFd, 0, &Timer, nullptr);
}

int Start(snd_pcm_ioplug_t *IoPlug) {
    TTestPcm &Pcm = Of(IoPlug);
    Pcm.Started = TClock::now();
    Pcm.OverrunDue = Pcm.OverrunMs > 0;
    ArmTimer(Pcm, IoPlug->period_size);
    return 0;
}

int Prepare(snd_pcm_ioplug_t *IoPlug) {
    return Removed(Of(IoPlug).RemovedPath) ? -ENODEV : 0;
}

int Stop(snd_pcm_ioplug_t *IoPlug) {
    const itimerspec Off{};
    timerfd_settime(Of(IoPlug).TimerFd, 0, &Off, nullptr);
    return 0;
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t *IoPlug) {
    TTestPcm &Pcm = Of(IoPlug);
    if (Removed(Pcm.RemovedPath))
        return -ENODEV;
    const auto Elapsed = TClock::now() - Pcm.Started;
    if (Pcm.OverrunDue && Elapsed >= std::chrono::milliseconds(Pcm.OverrunMs)) {
        Pcm.OverrunDue = false;
        return -EPIPE;
    }
    const auto Frames = std::chrono::duration_cast<std::chrono::microseconds>(Elapsed).count() *
                        IoPlug->rate / 1000000;
    return static_cast<snd_pcm_sframes_t>(Frames % IoPlug->buffer_size);
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t *IoPlug, const snd_pcm_channel_area_t *Areas,
                           snd_pcm_uframes_t Offset, snd_pcm_uframes_t Size) {
    snd_pcm_areas_silence(Areas, Offset, IoPlug->channels, Size, IoPlug->format);
    return static_cast<snd_pcm_sframes_t>(Size);
}

int PollRevents(snd_pcm_ioplug_t *IoPlug, struct pollfd *Fds, unsigned int,
                unsigned short *Events) {
    std::uint64_t Ticks = 0;
    [[maybe_unused]] ssize_t Read = read(Of(IoPlug).TimerFd, &Ticks, sizeof Ticks);
    *Events = Fds[0].revents & POLLIN;
    return 0;
}

int Close(snd_pcm_ioplug_t *IoPlug) {
    TTestPcm *Pcm = &Of(IoPlug);
    close(Pcm->TimerFd);
    close(Pcm->LockFd); // lets the next opener in
    delete Pcm;
    return 0;
}

const snd_pcm_ioplug_callback_t Callbacks = [] {
    snd_pcm_ioplug_callback_t Result{};
    Result.start = Start;
    Result.stop = Stop;
    Result.prepare = Prepare;
    Result.pointer = Pointer;
    Result.transfer = Transfer;
    Result.poll_revents = PollRevents;
    Result.close = Close;
    return Result;
}();

int Constrain(snd_pcm_ioplug_t *IoPlug) {
    const unsigned Access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned Formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE};
    int Error = snd_pcm_ioplug_set_param_list(IoPlug, SND_PCM_IOPLUG_HW_ACCESS, 1, Access);
    if (Error >= 0)
        Error = snd_pcm_ioplug_set_param_list(IoPlug, SND_PCM_IOPLUG_HW_FORMAT, 2, Formats);
    if (Error >= 0)
        Error = snd_pcm_ioplug_set_param_minmax(IoPlug, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
    if (Error >= 0)
        Error = snd_pcm_ioplug_set_param_minmax(IoPlug, SND_PCM_IOPLUG_HW_RATE, 8000, 48000);
    if (Error >= 0)
        Error =
            snd_pcm_ioplug_set_param_minmax(IoPlug, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
    if (Error >= 0)
        Error = snd_pcm_ioplug_set_param_minmax(IoPlug, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
    return Error;
}

int Hold(const char *LockPath) {
    int Fd = open(LockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (Fd < 0)
        return -errno;
    if (flock(Fd, LOCK_EX | LOCK_NB) < 0) {
        close(Fd);
        return -EBUSY;
    }
    return Fd;
}

struct TSettings {
    const char *LockPath = nullptr;
    long OverrunMs = 0;
    const char *RemovedPath = nullptr;
};

int ReadSettings(snd_config_t *Conf, TSettings &Settings) {
    snd_config_iterator_t Item, Next;
    snd_config_for_each(Item, Next, Conf) {
        snd_config_t *Field = snd_config_iterator_entry(Item);
        const char *Id = nullptr;
        if (snd_config_get_id(Field, &Id) < 0)
            continue;
        if (std::strcmp(Id, "lock") == 0 && snd_config_get_string(Field, &Settings.LockPath) < 0)
            return -EINVAL;
        if (std::strcmp(Id, "overrun_ms") == 0 &&
            snd_config_get_integer(Field, &Settings.OverrunMs) < 0)
            return -EINVAL;
        if (std::strcmp(Id, "removed") == 0 &&
            snd_config_get_string(Field, &Settings.RemovedPath) < 0)
            return -EINVAL;
    }
    return Settings.LockPath ? 0 : -EINVAL;
}

} // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(zeltest) {
    (void)root;
    TSettings Settings;
    if (ReadSettings(conf, Settings) < 0 || stream != SND_PCM_STREAM_CAPTURE)
        return -EINVAL;
    if (Settings.RemovedPath && Removed(Settings.RemovedPath))
        return -ENODEV;
    const int LockFd = Hold(Settings.LockPath);
    if (LockFd < 0)
        return LockFd;
    auto *Pcm = new TTestPcm;
    Pcm->LockFd = LockFd;
    Pcm->OverrunMs = Settings.OverrunMs;
    Pcm->RemovedPath = Settings.RemovedPath ? Settings.RemovedPath : "";
    Pcm->TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    Pcm->IoPlug.version = SND_PCM_IOPLUG_VERSION;
    Pcm->IoPlug.name = "Test capture";
    Pcm->IoPlug.callback = &Callbacks;
    Pcm->IoPlug.private_data = Pcm;
    Pcm->IoPlug.poll_fd = Pcm->TimerFd;
    Pcm->IoPlug.poll_events = POLLIN;
    int Error = snd_pcm_ioplug_create(&Pcm->IoPlug, name, stream, mode);
    if (Error < 0) {
        close(Pcm->TimerFd);
        close(Pcm->LockFd);
        delete Pcm;
        return Error;
    }
    Error = Constrain(&Pcm->IoPlug);
    if (Error < 0) {
        snd_pcm_ioplug_delete(&Pcm->IoPlug);
        return Error;
    }
    *pcmp = Pcm->IoPlug.pcm;
    return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(zeltest);
}
