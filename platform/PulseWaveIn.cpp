#include "platform/PulseWaveIn.h"

#include "platform/PulseLoop.h"
#include "platform/WaveInQueue.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

using TClock = std::chrono::steady_clock;

// Every wait for the server ends after this, so that no call takes longer than 2 s even
// when the server has stopped answering.
constexpr auto ServerPatience = std::chrono::milliseconds(1500);
// The server sends audio in fragments as long as a buffer: one wake-up per buffer. Until
// a start shows the buffers, the receiver's length is assumed.
constexpr unsigned DefaultFragmentMilliseconds = 200;
// Audio kept while no buffer is queued, so that a buffer returned late loses nothing.
constexpr unsigned RingMilliseconds = 500;
// A recording that hears nothing from the server for this long has stalled (a server that
// was stopped or hangs keeps the stream open and sends nothing) and counts as lost. Ten
// fragments: a busy machine delays a fragment by tens of milliseconds, never by seconds,
// and the user still hears of a deaf receiver before a message could be missed unnoticed.
// A quiet input still sends silence; only a suspended source, which the server announces,
// sends nothing and is no stall.
constexpr auto StallLimit = std::chrono::milliseconds(2000);

constexpr const char *DefaultDeviceName = "Default sound input";
constexpr const char *StreamName = "Radio audio";

// Set before any connection is made (SetRecordingProgramName); read-only afterwards.
std::string &ProgramName() {
    static std::string Name = "ZEL Text Receiver";
    return Name;
}

struct TProplistFree {
    void operator()(pa_proplist *List) const { pa_proplist_free(List); }
};
using TProplist = std::unique_ptr<pa_proplist, TProplistFree>;

// What desktop volume controls show for the program and its stream.
TProplist Properties(std::initializer_list<std::pair<const char *, const char *>> Values) {
    TProplist List(pa_proplist_new());
    for (const auto &[Key, Value] : Values)
        pa_proplist_sets(List.get(), Key, Value);
    return List;
}

void Forget(pa_operation *Operation) {
    if (Operation)
        pa_operation_unref(Operation);
}

void SignalLoop(void *Loop) {
    static_cast<TPulseLoop *>(Loop)->Signal();
}

// A connection to the sound server whose events run on a loop (TPulseLoop): callbacks
// run with the loop locked; a caller locks the loop (TLock) before touching the
// connection or what belongs to it.
class TPulseConnection {
public:
    class TLock {
    public:
        explicit TLock(TPulseConnection &Connection) : FLoop(*Connection.FLoop) { FLoop.Lock(); }
        ~TLock() { FLoop.Unlock(); }
        TLock(const TLock &) = delete;
        TLock &operator=(const TLock &) = delete;

    private:
        TPulseLoop &FLoop;
    };

    explicit TPulseConnection(const TSoundServerLoop &Loop) : FLoop(Loop.ForCallingThread()) {
        TProplist Application = Properties({{PA_PROP_APPLICATION_NAME, ProgramName().c_str()},
                                            {PA_PROP_APPLICATION_ID, "zeltextreceiver"},
                                            {PA_PROP_APPLICATION_ICON_NAME, "zeltextreceiver"}});
        FContext = pa_context_new_with_proplist(FLoop->Api(), nullptr, Application.get());
        if (!FContext)
            throw std::bad_alloc();
        pa_context_set_state_callback(
            FContext, [](pa_context *, void *Loop) { SignalLoop(Loop); }, FLoop.get());
    }

    ~TPulseConnection() { Disconnect(); }

    TPulseConnection(const TPulseConnection &) = delete;
    TPulseConnection &operator=(const TPulseConnection &) = delete;

    pa_context *Context() const { return FContext; }
    pa_mainloop_api *Api() const { return FLoop->Api(); }
    void Signal() { FLoop->Signal(); }

    // True once the server has accepted the connection, before the deadline.
    bool Connect(TClock::time_point Deadline) {
        // A server that is not running is not started for us: then there is none.
        if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            !FLoop->Start())
            return false;
        TLock Lock(*this);
        WaitFor(
            [this] {
                return pa_context_get_state(FContext) != PA_CONTEXT_CONNECTING &&
                       pa_context_get_state(FContext) != PA_CONTEXT_AUTHORIZING &&
                       pa_context_get_state(FContext) != PA_CONTEXT_SETTING_NAME;
            },
            Deadline);
        return pa_context_get_state(FContext) == PA_CONTEXT_READY;
    }

    // The loop ends before the caller hears that the device is closed.
    void Disconnect() {
        if (!FContext)
            return;
        {
            TLock Lock(*this);
            pa_context_set_state_callback(FContext, nullptr, nullptr);
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
            FContext = nullptr;
        }
        FLoop->Stop();
    }

    // With the loop locked: waits until Done holds or the deadline passes; Done's answer.
    bool WaitFor(const std::function<bool()> &Done, TClock::time_point Deadline) {
        struct TAlarm {
            TPulseLoop *Loop;
            bool Rang = false;
        } Alarm{FLoop.get()};
        const auto Left = std::chrono::duration_cast<std::chrono::microseconds>(
            std::max(Deadline - TClock::now(), TClock::duration::zero()));
        pa_time_event *Event = pa_context_rttime_new(
            FContext, pa_rtclock_now() + Left.count(),
            [](pa_mainloop_api *, pa_time_event *, const timeval *, void *Data) {
                auto &Ringing = *static_cast<TAlarm *>(Data);
                Ringing.Rang = true;
                SignalLoop(Ringing.Loop);
            },
            &Alarm);
        while (!Done() && !Alarm.Rang && Event)
            FLoop->Wait();
        if (Event)
            FLoop->Api()->time_free(Event);
        return Done();
    }

    // With the loop locked: waits for the operation to end; true when it was carried out.
    bool Await(pa_operation *Operation, TClock::time_point Deadline) {
        if (!Operation)
            return false;
        pa_operation_set_state_callback(
            Operation, [](pa_operation *, void *Loop) { SignalLoop(Loop); }, FLoop.get());
        WaitFor([Operation] { return pa_operation_get_state(Operation) != PA_OPERATION_RUNNING; },
                Deadline);
        const bool Done = pa_operation_get_state(Operation) == PA_OPERATION_DONE;
        if (!Done)
            pa_operation_cancel(Operation);
        pa_operation_unref(Operation);
        return Done;
    }

private:
    std::unique_ptr<TPulseLoop> FLoop;
    pa_context *FContext = nullptr;
};

// ---- Devices ----

struct TSource {
    std::string Name; // empty: the server's default, whichever it is
    std::string Description;
    unsigned Channels = 1;
};

void AddSource(pa_context *, const pa_source_info *Info, int EndOfList, void *Sources) {
    if (!EndOfList && Info)
        static_cast<std::vector<TSource> *>(Sources)->push_back(
            {Info->name, Info->description ? Info->description : Info->name,
             Info->sample_spec.channels});
}

// The default source or all of them, each question on a connection of its own; nothing
// when the server does not answer in time.
std::optional<std::vector<TSource>> AskSources(const TSoundServerLoop &Loop, bool DefaultOnly,
                                               TClock::time_point Deadline) {
    try {
        TPulseConnection Connection(Loop);
        if (!Connection.Connect(Deadline))
            return std::nullopt;
        TPulseConnection::TLock Lock(Connection);
        std::vector<TSource> Sources;
        pa_context *Context = Connection.Context();
        pa_operation *Question =
            DefaultOnly ? pa_context_get_source_info_by_name(Context, "@DEFAULT_SOURCE@", AddSource,
                                                             &Sources)
                        : pa_context_get_source_info_list(Context, AddSource, &Sources);
        if (!Connection.Await(Question, Deadline))
            return std::nullopt;
        return Sources;
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

struct TResolved {
    MMRESULT Result = MMSYSERR_NOERROR;
    TSource Source;
};

TResolved ResolveDevice(const TSoundServerLoop &Loop, UINT_PTR DeviceID,
                        TClock::time_point Deadline) {
    const bool Mapper = IsWaveMapper(DeviceID);
    std::optional<std::vector<TSource>> Sources = AskSources(Loop, Mapper, Deadline);
    // No server, or no source at all: nothing to record from.
    if (!Sources || (Mapper && Sources->empty()))
        return {MMSYSERR_NODRIVER, {}};
    if (Mapper)
        return {MMSYSERR_NOERROR, {"", DefaultDeviceName, Sources->front().Channels}};
    if (DeviceID >= Sources->size())
        return {MMSYSERR_BADDEVICEID, {}};
    return {MMSYSERR_NOERROR, (*Sources)[DeviceID]};
}

// ---- Formats ----

pa_sample_spec SampleSpec(const WAVEFORMATEX &Format) {
    return {Format.wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE, Format.nSamplesPerSec,
            static_cast<std::uint8_t>(std::min<WORD>(Format.nChannels, PA_CHANNELS_MAX + 1))};
}

bool ServerTakes(const WAVEFORMATEX &Format) {
    const pa_sample_spec SampleFormat = SampleSpec(Format);
    return pa_sample_spec_valid(&SampleFormat);
}

// What no open can take, or the server cannot record.
MMRESULT FormatRefusal(const WAVEFORMATEX *Format, DWORD Flags) {
    if (MMRESULT Refused = CheckOpenArguments(Format, Flags))
        return Refused;
    return ServerTakes(*Format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT StreamFailure(int Error) {
    if (Error == PA_ERR_BUSY)
        return MMSYSERR_ALLOCATED;
    if (Error == PA_ERR_NOTSUPPORTED || Error == PA_ERR_INVALID)
        return WAVERR_BADFORMAT;
    // Anything else means there is nothing to record from: no server, no such source.
    return MMSYSERR_NODRIVER;
}

} // namespace

// One open device: the buffers queued by the engine, and the record stream that fills
// them from the connection's thread. What the calls and that thread share is guarded by
// FLock, taken after the loop's lock where both are needed.
class TPulseCaptureStream {
public:
    TPulseCaptureStream(const TSoundServerLoop &Loop, const WAVEFORMATEX &Format,
                        TCallbackTarget Target)
        : FFormat(Format), FConnection(Loop), FBuffers(Format, Target),
          FRingLimit(Milliseconds(RingMilliseconds)) {}

    ~TPulseCaptureStream() { Release(); }

    TPulseCaptureStream(const TPulseCaptureStream &) = delete;
    TPulseCaptureStream &operator=(const TPulseCaptureStream &) = delete;

    bool Notify(UINT Msg, LPARAM Param) const { return FBuffers.Notify(Msg, Param); }

    // Connects the record stream, paused until a start.
    MMRESULT Connect(const std::string &Source, TClock::time_point Deadline) {
        if (!FConnection.Connect(Deadline))
            return MMSYSERR_NODRIVER;
        TPulseConnection::TLock Lock(FConnection);
        const pa_sample_spec SampleFormat = SampleSpec(FFormat);
        TProplist Stream = Properties({{PA_PROP_MEDIA_ROLE, "production"},
                                       {PA_PROP_APPLICATION_ICON_NAME, "zeltextreceiver"}});
        FStream = pa_stream_new_with_proplist(FConnection.Context(), StreamName, &SampleFormat,
                                              nullptr, Stream.get());
        if (!FStream)
            return StreamFailure(pa_context_errno(FConnection.Context()));
        pa_stream_set_state_callback(FStream, &TPulseCaptureStream::StateChanged, this);
        pa_stream_set_read_callback(FStream, &TPulseCaptureStream::Readable, this);
        const pa_buffer_attr Attributes = Fragments(Milliseconds(DefaultFragmentMilliseconds));
        // Connected running, so that an idle source wakes up now: one that stays
        // suspended cannot be had, which the open reports. A source asked for by name
        // is kept: when it goes, the stream is lost rather than moved to another one.
        const pa_stream_flags_t Flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | (Source.empty() ? 0 : PA_STREAM_DONT_MOVE));
        if (pa_stream_connect_record(FStream, Source.empty() ? nullptr : Source.c_str(),
                                     &Attributes, Flags) < 0)
            return StreamFailure(pa_context_errno(FConnection.Context()));
        FConnection.WaitFor([this] { return pa_stream_get_state(FStream) != PA_STREAM_CREATING; },
                            Deadline);
        if (pa_stream_get_state(FStream) != PA_STREAM_READY)
            return StreamFailure(pa_context_errno(FConnection.Context()));
        if (pa_stream_is_suspended(FStream) == 1)
            return MMSYSERR_ALLOCATED;
        Cork(true);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Prepare(WAVEHDR &Header) {
        std::lock_guard Guard(FLock);
        return FClosed ? MMSYSERR_INVALHANDLE : FBuffers.Prepare(Header);
    }

    MMRESULT Unprepare(WAVEHDR &Header) {
        std::lock_guard Guard(FLock);
        return FClosed ? MMSYSERR_INVALHANDLE : FBuffers.Unprepare(Header);
    }

    MMRESULT Add(WAVEHDR &Header) {
        std::lock_guard Guard(FLock);
        if (MMRESULT Refused = Refusal())
            return Refused;
        const MMRESULT Result = FBuffers.Add(Header);
        // Audio that waited for a buffer goes in at once.
        if (Result == MMSYSERR_NOERROR && FRecording)
            Drain();
        return Result;
    }

    MMRESULT Start() {
        TPulseConnection::TLock Loop(FConnection);
        DWORD Fragment = 0;
        {
            std::lock_guard Guard(FLock);
            if (MMRESULT Refused = Refusal())
                return Refused;
            if (FRecording)
                return MMSYSERR_NOERROR;
            FRecording = true;
            Fragment = FBuffers.FrontCapacity();
        }
        FitFragments(Fragment);
        Cork(false);
        WatchForStall(true);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop() { return Pause(false); }
    MMRESULT Reset() { return Pause(true); }

    MMRESULT Position(MMTIME &Time) {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        FBuffers.Express(FPosition, Time);
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
        return MMSYSERR_NOERROR;
    }

    // The stream and its thread end before the target hears of it.
    void FinishClose() {
        Release();
        FConnection.Disconnect();
        Notify(MM_WIM_CLOSE, 0);
    }

private:
    DWORD Milliseconds(unsigned Count) const {
        return std::max<DWORD>(FFormat.nAvgBytesPerSec / 1000 * Count / FFormat.nBlockAlign, 1) *
               FFormat.nBlockAlign;
    }

    static pa_buffer_attr Fragments(DWORD Bytes) {
        pa_buffer_attr Attributes;
        Attributes.maxlength = static_cast<std::uint32_t>(-1);
        Attributes.tlength = static_cast<std::uint32_t>(-1);
        Attributes.prebuf = static_cast<std::uint32_t>(-1);
        Attributes.minreq = static_cast<std::uint32_t>(-1);
        Attributes.fragsize = Bytes;
        return Attributes;
    }

    // FLock held. A device that was lost refuses to take buffers or to start.
    MMRESULT Refusal() const {
        if (FClosed)
            return MMSYSERR_INVALHANDLE;
        return FLost ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }

    // Stop returns the buffer being filled, reset every buffer; neither keeps audio.
    MMRESULT Pause(bool Resetting) {
        TPulseConnection::TLock Loop(FConnection);
        {
            std::lock_guard Guard(FLock);
            if (FClosed)
                return MMSYSERR_INVALHANDLE;
            FRecording = false;
            FRing.clear();
            if (Resetting) {
                FBuffers.ReturnAll();
                FPosition = 0;
            } else {
                FBuffers.ReturnPartial();
            }
        }
        Cork(true);
        WatchForStall(false);
        return MMSYSERR_NOERROR;
    }

    // Loop locked. A lost stream takes no requests; it is left as it is.
    void Cork(bool Paused) {
        if (FStream && pa_stream_get_state(FStream) == PA_STREAM_READY)
            Forget(pa_stream_cork(FStream, Paused, nullptr, nullptr));
    }

    // Loop locked: fragments as long as the first buffer, for one wake-up per buffer.
    void FitFragments(DWORD Bytes) {
        if (Bytes == 0 || Bytes == FFragmentBytes || !FStream ||
            pa_stream_get_state(FStream) != PA_STREAM_READY)
            return;
        FFragmentBytes = Bytes;
        const pa_buffer_attr Attributes = Fragments(Bytes);
        Forget(pa_stream_set_buffer_attr(FStream, &Attributes, nullptr, nullptr));
    }

    // Loop locked: the alarm rings StallLimit after the last fragment (or the start) while
    // recording. Put off at every fragment, it costs no wake-up while audio flows.
    void WatchForStall(bool Recording) {
        const pa_usec_t Due = Recording
                                  ? pa_rtclock_now() + std::chrono::microseconds(StallLimit).count()
                                  : PA_USEC_INVALID;
        if (FStallAlarm)
            pa_context_rttime_restart(FConnection.Context(), FStallAlarm, Due);
        else if (Recording)
            FStallAlarm = pa_context_rttime_new(FConnection.Context(), Due,
                                                &TPulseCaptureStream::AlarmRang, this);
    }

    static void AlarmRang(pa_mainloop_api *, pa_time_event *, const timeval *, void *Self) {
        static_cast<TPulseCaptureStream *>(Self)->Stalled();
    }

    // Loop locked, so that no start or stop runs meanwhile.
    void Stalled() {
        if (pa_stream_is_suspended(FStream) == 1 || AudioWaiting())
            return WatchForStall(true);
        bool Recording = false;
        {
            std::lock_guard Guard(FLock);
            Recording = FRecording;
        }
        if (Recording)
            Lose();
    }

    // Loop locked. Audio that waits to be read is no stall: a busy loop may come to the
    // alarm before it comes to the audio that arrived in time.
    bool AudioWaiting() const {
        const std::size_t Ready = pa_stream_readable_size(FStream);
        return Ready != static_cast<std::size_t>(-1) && Ready > 0;
    }

    // The stream is given up with the loop locked, so no callback runs afterwards.
    void Release() {
        TPulseConnection::TLock Loop(FConnection);
        if (FStallAlarm)
            FConnection.Api()->time_free(std::exchange(FStallAlarm, nullptr));
        if (!FStream)
            return;
        pa_stream_set_state_callback(FStream, nullptr, nullptr);
        pa_stream_set_read_callback(FStream, nullptr, nullptr);
        pa_stream_disconnect(FStream);
        pa_stream_unref(FStream);
        FStream = nullptr;
    }

    static void StateChanged(pa_stream *Stream, void *Self) {
        auto &This = *static_cast<TPulseCaptureStream *>(Self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(Stream)))
            This.Lose();
        This.FConnection.Signal();
    }

    static void Readable(pa_stream *, size_t, void *Self) {
        auto &This = *static_cast<TPulseCaptureStream *>(Self);
        This.WatchForStall(true);
        This.ReadAvailable();
    }

    void ReadAvailable() {
        const void *Data = nullptr;
        std::size_t Bytes = 0;
        while (pa_stream_peek(FStream, &Data, &Bytes) == 0 && Bytes > 0) {
            // A hole is audio the server never had: there is nothing to keep.
            if (Data)
                Deliver(static_cast<const char *>(Data), Bytes);
            pa_stream_drop(FStream);
        }
    }

    void Deliver(const char *Data, std::size_t Bytes) {
        std::lock_guard Guard(FLock);
        // Audio that arrives after a stop belongs to no buffer.
        if (!FRecording)
            return;
        FPosition += Bytes;
        // Audio goes straight into the queued buffers; only what finds none waits.
        if (FRing.empty()) {
            const std::size_t Taken = FBuffers.Fill(Data, Bytes);
            Data += Taken;
            Bytes -= Taken;
        }
        FRing.insert(FRing.end(), Data, Data + Bytes);
        // The oldest audio goes when no buffer has come back for a long time.
        if (FRing.size() > FRingLimit)
            FRing.erase(FRing.begin(), FRing.end() - FRingLimit);
        Drain();
    }

    // FLock held.
    void Drain() {
        const std::size_t Taken = FBuffers.Fill(FRing.data(), FRing.size());
        FRing.erase(FRing.begin(), FRing.begin() + static_cast<std::ptrdiff_t>(Taken));
    }

    // The server or the source has gone: every buffer comes back with what it holds.
    void Lose() {
        std::lock_guard Guard(FLock);
        if (FLost)
            return;
        FLost = true;
        FRecording = false;
        FRing.clear();
        FBuffers.ReturnAll();
    }

    const WAVEFORMATEX FFormat;
    TPulseConnection FConnection;
    // The loop's own, under its lock.
    pa_stream *FStream = nullptr;
    pa_time_event *FStallAlarm = nullptr;
    DWORD FFragmentBytes = 0;

    std::mutex FLock;
    TWaveInQueue FBuffers;
    const std::size_t FRingLimit;
    std::vector<char> FRing;
    bool FRecording = false;
    bool FLost = false;
    bool FClosed = false;
    // Bytes captured while recording since the open or the last reset.
    std::uint64_t FPosition = 0;
};

void SetRecordingProgramName(const std::string &Name) {
    ProgramName() = Name;
}

UINT TPulseWaveInService::GetNumDevs() {
    std::optional<std::vector<TSource>> Sources =
        AskSources(FLoop, false, TClock::now() + ServerPatience);
    return Sources ? static_cast<UINT>(Sources->size()) : 0;
}

MMRESULT TPulseWaveInService::GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    if (!Caps)
        return MMSYSERR_INVALPARAM;
    const TResolved Device = ResolveDevice(FLoop, DeviceID, TClock::now() + ServerPatience);
    if (Device.Result)
        return Device.Result;
    WAVEINCAPSA Result{};
    CopyDeviceName(Result.szPname, Device.Source.Description);
    // The server converts whatever is asked for; the record knows mono and stereo only.
    Result.dwFormats = AllFormatBits;
    Result.wChannels = static_cast<WORD>(std::clamp(Device.Source.Channels, 1u, 2u));
    std::memcpy(Caps, &Result, std::min<std::size_t>(CapsSize, sizeof Result));
    return MMSYSERR_NOERROR;
}

MMRESULT TPulseWaveInService::Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                                   DWORD_PTR Callback, DWORD_PTR, DWORD Flags) {
    if (MMRESULT Refused = FormatRefusal(Format, Flags))
        return Refused;
    const auto Deadline = TClock::now() + ServerPatience;
    // The preferred input is whatever the server calls its default when the stream starts.
    const bool AskServer = (Flags & WAVE_FORMAT_QUERY) || !IsWaveMapper(DeviceID);
    const TResolved Device = AskServer ? ResolveDevice(FLoop, DeviceID, Deadline) : TResolved{};
    if (Device.Result || (Flags & WAVE_FORMAT_QUERY))
        return Device.Result;
    return OpenStream(WaveIn, Device.Source.Name, *Format, Callback, Flags, Deadline);
}

// The server is asked for the source by its name when the stream connects: a source
// that has gone meanwhile is missing, never replaced by another one.
MMRESULT TPulseWaveInService::OpenNamed(HWAVEIN *WaveIn, const std::string &Name,
                                        const WAVEFORMATEX *Format, DWORD_PTR Callback, DWORD_PTR,
                                        DWORD Flags) {
    if (MMRESULT Refused = FormatRefusal(Format, Flags))
        return Refused;
    if (Name.empty())
        return MMSYSERR_NODRIVER;
    const auto Deadline = TClock::now() + ServerPatience;
    if (Flags & WAVE_FORMAT_QUERY) {
        const auto Sources = AskSources(FLoop, false, Deadline);
        const bool Offered =
            Sources && std::any_of(Sources->begin(), Sources->end(),
                                   [&](const TSource &Source) { return Source.Name == Name; });
        return Offered ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
    }
    return OpenStream(WaveIn, Name, *Format, Callback, Flags, Deadline);
}

std::vector<TInputName> TPulseWaveInService::Inputs() {
    std::vector<TInputName> Names;
    if (const auto Sources = AskSources(FLoop, false, TClock::now() + ServerPatience))
        for (const TSource &Source : *Sources)
            Names.push_back({Source.Name, Source.Description});
    return Names;
}

MMRESULT TPulseWaveInService::OpenStream(HWAVEIN *WaveIn, const std::string &Source,
                                         const WAVEFORMATEX &Format, DWORD_PTR Callback,
                                         DWORD Flags,
                                         std::chrono::steady_clock::time_point Deadline) {
    if (!WaveIn)
        return MMSYSERR_INVALPARAM;
    std::shared_ptr<TPulseCaptureStream> Stream;
    try {
        Stream = std::make_shared<TPulseCaptureStream>(
            FLoop, Format, TCallbackTarget{Callback, CallbackType(Flags)});
    } catch (const std::bad_alloc &) {
        return MMSYSERR_NOMEM;
    }
    if (MMRESULT Result = Stream->Connect(Source, Deadline))
        return Result;
    *WaveIn = FStreams.Register(Stream);
    if (!Stream->Notify(MM_WIM_OPEN, 0)) {
        // Nobody would ever hear of this device: it is not opened at all.
        FStreams.Forget(*WaveIn);
        *WaveIn = 0;
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TPulseWaveInService::PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT) {
    return FStreams.CallWithHeader(WaveIn, Header, &TPulseCaptureStream::Prepare);
}

MMRESULT TPulseWaveInService::UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT) {
    return FStreams.CallWithHeader(WaveIn, Header, &TPulseCaptureStream::Unprepare);
}

MMRESULT TPulseWaveInService::AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT) {
    return FStreams.CallWithHeader(WaveIn, Header, &TPulseCaptureStream::Add);
}

MMRESULT TPulseWaveInService::Start(HWAVEIN WaveIn) {
    return FStreams.Call(WaveIn, [](auto &Stream) { return Stream.Start(); });
}

MMRESULT TPulseWaveInService::Stop(HWAVEIN WaveIn) {
    return FStreams.Call(WaveIn, [](auto &Stream) { return Stream.Stop(); });
}

MMRESULT TPulseWaveInService::Reset(HWAVEIN WaveIn) {
    return FStreams.Call(WaveIn, [](auto &Stream) { return Stream.Reset(); });
}

MMRESULT TPulseWaveInService::Close(HWAVEIN WaveIn) {
    std::shared_ptr<TPulseCaptureStream> Stream;
    if (MMRESULT Result = FStreams.TakeForClose(WaveIn, Stream))
        return Result;
    Stream->FinishClose();
    return MMSYSERR_NOERROR;
}

MMRESULT TPulseWaveInService::GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) {
    return FStreams.Call(WaveIn, [&](auto &Stream) {
        return Time && TimeSize >= sizeof(MMTIME) ? Stream.Position(*Time) : MMSYSERR_INVALPARAM;
    });
}

MMRESULT TPulseWaveInService::GetErrorText(MMRESULT Code, char *Text, UINT TextSize) {
    return CopyErrorText(WaveInErrorTexts(), Code, Text, TextSize);
}

} // namespace platform
