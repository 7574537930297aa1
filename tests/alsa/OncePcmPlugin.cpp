// An ALSA capture PCM that only one opener can hold at a time, as a sound card's own
// device behaves: a second open fails with EBUSY until the first one closes. The hold is
// an exclusive lock on the file named by the configuration's "lock" field, so it is
// honest across processes as well. It records nothing; it is there to be held.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct TOncePcm {
    snd_pcm_ioplug_t IoPlug{};
    int LockFd = -1;
    int IdleFd = -1;
};

int Start(snd_pcm_ioplug_t *) {
    return 0;
}
int Stop(snd_pcm_ioplug_t *) {
    return 0;
}
snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t *) {
    return 0;
}

int Close(snd_pcm_ioplug_t *IoPlug) {
    auto *Pcm = static_cast<TOncePcm *>(IoPlug->private_data);
    close(Pcm->IdleFd);
    close(Pcm->LockFd); // lets the next opener in
    delete Pcm;
    return 0;
}

const snd_pcm_ioplug_callback_t Callbacks = [] {
    snd_pcm_ioplug_callback_t Result{};
    Result.start = Start;
    Result.stop = Stop;
    Result.pointer = Pointer;
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

} // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(zelonce) {
    (void)root;
    const char *LockPath = nullptr;
    snd_config_iterator_t Item, Next;
    snd_config_for_each(Item, Next, conf) {
        snd_config_t *Field = snd_config_iterator_entry(Item);
        const char *Id = nullptr;
        if (snd_config_get_id(Field, &Id) < 0)
            continue;
        if (std::strcmp(Id, "lock") == 0 && snd_config_get_string(Field, &LockPath) < 0)
            return -EINVAL;
    }
    if (!LockPath || stream != SND_PCM_STREAM_CAPTURE)
        return -EINVAL;

    const int LockFd = Hold(LockPath);
    if (LockFd < 0)
        return LockFd;
    auto *Pcm = new TOncePcm;
    Pcm->LockFd = LockFd;
    Pcm->IdleFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Pcm->IoPlug.version = SND_PCM_IOPLUG_VERSION;
    Pcm->IoPlug.name = "Once-only test capture";
    Pcm->IoPlug.callback = &Callbacks;
    Pcm->IoPlug.private_data = Pcm;
    Pcm->IoPlug.poll_fd = Pcm->IdleFd;
    Pcm->IoPlug.poll_events = POLLIN;
    int Error = snd_pcm_ioplug_create(&Pcm->IoPlug, name, stream, mode);
    if (Error < 0) {
        close(Pcm->IdleFd);
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
SND_PCM_PLUGIN_SYMBOL(zelonce);
}
